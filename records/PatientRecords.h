#pragma once

#include <QDateTime>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class QSqlError;
class QSqlQuery;

namespace velmora {

class RecordsDatabase;

// The ten fields of a patient as the window shows them, and the date of birth the practice's
// software sent (TTMMJJJJ as received), kept with the patient but not shown.
struct PatientFields {
    QString patientId;  // the practice's number ("Patienten-ID")
    QString firstName;
    QString name;
    QString town;
    QString street;
    QString email;
    QString doctor;
    QString postcode;
    QString telephone;
    QString remarks;
    QString birthDate;

    bool operator==(const PatientFields&) const = default;
    bool IsEmpty() const { return *this == PatientFields{}; }
};

// A version of a patient's fields: what they held from `changedAt` on, and who wrote it where.
struct PatientVersion {
    int revision = 0;
    PatientFields fields;
    QDateTime changedAt;
    QString changedBy;
    QString changedOn;
};

// A line of the search list.
struct PatientSummary {
    QString id;  // the internal id
    QString name;
    QString firstName;
    QString patientId;
    QString town;
    QDateTime lastVisit;  // invalid without a visit
};

// The ears, in the order the window's curve pictures use: both, left, right.
enum class Ear { Both = 0, Left = 1, Right = 2 };

// The test frequencies, in the order of the curve's slots.
inline constexpr std::array<int, 7> kTestFrequencies = {125, 250, 500, 1000, 2000, 4000, 8000};

// A threshold as it was taken: the level as the gauge showed it, in tenths (0..99).
struct ThresholdTake {
    Ear ear = Ear::Both;
    int frequency = 1000;
    int levelTenths = 0;
    QString waveform;
    QDateTime takenAt;
};

// Who made a visit, where, and on which sound output.
struct VisitContext {
    QString operatorName;
    QString workstation;
    QString outputName;
    QString outputDescription;
    QString waveform;
};

struct VisitInfo {
    QString id;  // a UUID
    QString patientId;
    bool open = true;
    QDateTime started;
    QDateTime finished;
    VisitContext context;
    // Which ears have a threshold in it: both, left, right.
    std::array<bool, 3> earsTested{};
    // The finished visit this one corrects, empty for a visit of its own.
    QString corrects;
};

// A visit in the course across visits: the visit and its last take per ear and frequency.
struct CourseVisit {
    VisitInfo visit;
    std::array<std::array<int, 7>, 3> levels{};
};

// A line of the audit trail: who did what with which patient or visit, never what they hold.
struct AuditLine {
    QDateTime at;
    QString user;
    QString workstation;
    QString action;  // "Suche", "Laden", "Anzeigen", "Bericht", "Export", "Anlage", ...
    QString patientId;
    QString visitId;
    QString detail;  // ids and counts only; for a deletion, the reason the operator typed

    // A line of this user on this workstation, now.
    static AuditLine Now(const QString& action, const QString& patientId = {},
                         const QString& visitId = {}, const QString& detail = {});
};

// The actions of the audit trail.
namespace audit {
inline const QString kSearch = QStringLiteral("Suche");
inline const QString kLoad = QStringLiteral("Laden");
inline const QString kShow = QStringLiteral("Anzeigen");
inline const QString kReport = QStringLiteral("Bericht");
inline const QString kExport = QStringLiteral("Export");
inline const QString kCreate = QStringLiteral("Anlage");
inline const QString kChange = QStringLiteral("Änderung");
inline const QString kDelete = QStringLiteral("Löschung");
inline const QString kCorrect = QStringLiteral("Korrektur");
}  // namespace audit

// Per ear and frequency slot, the level (tenths) of the last take; -1 where none was taken.
using VisitLevels = std::array<std::array<int, 7>, 3>;

// The patients, their visits and every threshold taken, kept in a RecordsDatabase.
//
// Every write is committed (durably) before the call returns, or fails with LastError() saying why
// in German; a failed call has changed nothing. A finished visit is never changed: writes to it
// fail. Calls come from the thread that opened the database.
class PatientRecords {
public:
    explicit PatientRecords(RecordsDatabase& database);
    ~PatientRecords();
    PatientRecords(const PatientRecords&) = delete;
    PatientRecords& operator=(const PatientRecords&) = delete;

    // --- patients
    // A new patient; its internal id, empty on failure.
    QString CreatePatient(const PatientFields& fields);
    // The same with an id of the caller's (NewRecordId()), so that a write that failed can be
    // made again as it was (one that was kept after all is not made twice).
    bool CreatePatient(const QString& id, const PatientFields& fields);
    // Saves the fields as a new version. With `basedOn` (the fields the caller last read or
    // wrote), a patient changed meanwhile elsewhere to something else is not overwritten: the
    // save fails with LastErrorIsConflict().
    bool SavePatient(const QString& id, const PatientFields& fields,
                     const PatientFields* basedOn = nullptr);
    // Every version of the patient's fields, the latest first.
    std::vector<PatientVersion> Versions(const QString& id);
    std::optional<PatientFields> LoadPatient(const QString& id);
    // Patients whose Name, Vorname, Patienten-ID or Wohnort have a word starting with each word
    // typed (case and German spellings folded, see SearchKey.h), in the order of the matching
    // word of the rarest word typed, then by name and first name (typing a name lists by name);
    // for an empty text, the patients seen last. At most `limit`.
    std::vector<PatientSummary> Search(const QString& text, int limit = 100);
    // Stored patients other than `exceptId` with the same normalised Name and Vorname, and the same
    // Patienten-ID where both have one.
    std::vector<PatientSummary> SamePatients(const PatientFields& fields, const QString& exceptId);
    // The internal id of a stored patient with this Patienten-ID (compared as typed, case and
    // spelling folded), empty when there is none or the Patienten-ID is empty.
    QString PatientWithPracticeId(const QString& practiceId);
    // Removes a patient that has no visit (one made for a visit that moved to a stored patient).
    bool RemoveNewPatient(const QString& id);

    // --- visits
    // Opens a visit of `patientId`; its UUID, empty on failure.
    QString OpenVisit(const QString& patientId, const VisitContext& context);
    bool OpenVisit(const QString& visitId, const QString& patientId, const VisitContext& context);
    // `takeId` (a UUID, NewRecordId()) makes a take written twice (kept while the server was
    // away, then sent again) one take: a take already kept succeeds without a second row.
    // Opens `visitId` as the correction of the finished visit `correctedId`, of the same patient,
    // holding the corrected visit's takes to begin with (the original stays as it was). Made a
    // second time, it changes nothing.
    bool OpenCorrection(const QString& visitId, const QString& correctedId,
                        const VisitContext& context);
    bool AddThreshold(const QString& visitId, const ThresholdTake& take,
                      const QString& takeId = QString());
    bool FinishVisit(const QString& visitId);
    // Moves an open visit to another patient (the one the operator said it is); a visit that is
    // already that patient's succeeds as it stands.
    bool MoveVisit(const QString& visitId, const QString& patientId);
    // Erases the patient with every visit, threshold and earlier version of their fields, for
    // `reason` (typed by the operator, not empty); the audit line of the deletion, with the
    // reason, is written with it and stays. A patient no longer stored, or with a visit still
    // open, fails.
    bool ErasePatient(const QString& id, const QString& reason);
    std::optional<VisitInfo> Visit(const QString& visitId);
    // Open visits this operator left on this workstation, the latest first.
    std::vector<VisitInfo> OpenVisits(const QString& operatorName, const QString& workstation);
    // The patient's visits, the latest first.
    std::vector<VisitInfo> VisitsOf(const QString& patientId);
    // Every take of a visit, in the order taken.
    std::vector<ThresholdTake> Thresholds(const QString& visitId);
    // The last take per ear and frequency.
    VisitLevels Levels(const QString& visitId);
    // The visit today's is compared with: the patient's latest finished visit, other than
    // `exceptVisit`, that has a threshold and no finished correction.
    std::optional<VisitInfo> ComparisonVisit(const QString& patientId, const QString& exceptVisit);
    // The patient's finished visits that have a threshold, the oldest first, with their levels; a
    // visit with a finished correction is left out for it.
    std::vector<CourseVisit> Course(const QString& patientId);

    // --- the audit trail
    // Adds a line; `id` (a UUID) makes a line written twice one line. Patients made and changed
    // are noted by CreatePatient and SavePatient themselves.
    bool AddAudit(const QString& id, const AuditLine& line);
    // The lines from `since` on (all for an invalid time), oldest first.
    std::vector<AuditLine> AuditSince(const QDateTime& since);

    // Why the last call failed, in German; empty after a success.
    const QString& LastError() const { return lastError_; }
    // True when the last call failed because the server could not be reached.
    bool LastErrorIsConnection() const { return lastErrorIsConnection_; }
    // True when the last save found the patient changed on another workstation.
    bool LastErrorIsConflict() const { return lastErrorIsConflict_; }

    RecordsDatabase& Database() { return database_; }

private:
    bool Fail(const QSqlError& error);
    // Runs a prepared query of visits (kVisitColumns) and reads them in its order.
    std::vector<VisitInfo> VisitsRead(QSqlQuery& query);
    // The same for a query of at most one visit.
    std::optional<VisitInfo> FirstVisitRead(QSqlQuery& query);
    bool Succeed();
    bool WriteWords(const QString& id, const PatientFields& fields);
    // The audit line of a change, inside the change's transaction.
    bool WriteAudit(const AuditLine& line);
    // The patient's fields as they now stand as a new version, inside the change's transaction.
    bool WriteVersion(const QString& id);
    // Whether `table` holds the row `id` (and, with `patientId`, of that patient).
    bool Exists(const QString& table, const QString& id, const QString* patientId = nullptr);
    // How many patients' words start with `word`, counted up to a few more than a search takes
    // as its candidates; -1 on failure.
    int WordMatches(const QString& word);

    RecordsDatabase& database_;
    std::unique_ptr<QSqlQuery> addThreshold_;
    int preparedOn_ = 0;
    QString lastError_;
    bool lastErrorIsConnection_ = false;
    bool lastErrorIsConflict_ = false;
};

// Records are kept ten years after the last visit: whether a patient whose last visit was
// `lastVisit` (invalid: none) is still inside that period at `now`.
bool InsideKeepingPeriod(const QDateTime& lastVisit, const QDateTime& now);

// A new UUID for a patient or a visit.
QString NewRecordId();

// The desktop user, who is the operator of a visit, and the workstation's host name.
QString CurrentOperator();
QString CurrentWorkstation();

// The slot of a test frequency (0..6), -1 for another.
int FrequencySlot(int frequency);
// The ear as kept in the records and back.
QString EarName(Ear ear);
std::optional<Ear> EarOf(const QString& name);

}  // namespace velmora
