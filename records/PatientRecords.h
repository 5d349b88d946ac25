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

// The ten fields of a patient as the window shows them.
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

    bool operator==(const PatientFields&) const = default;
    bool IsEmpty() const { return *this == PatientFields{}; }
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
};

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
    bool SavePatient(const QString& id, const PatientFields& fields);
    std::optional<PatientFields> LoadPatient(const QString& id);
    // Patients whose Name, Vorname, Patienten-ID or Wohnort have a word starting with each word
    // typed (case and German spellings folded, see SearchKey.h), in the order of the matching
    // word of the rarest word typed, then by name and first name (typing a name lists by name);
    // for an empty text, the patients seen last. At most `limit`.
    std::vector<PatientSummary> Search(const QString& text, int limit = 100);
    // Stored patients other than `exceptId` with the same normalised Name and Vorname, and the same
    // Patienten-ID where both have one.
    std::vector<PatientSummary> SamePatients(const PatientFields& fields, const QString& exceptId);
    // Removes a patient that has no visit (one made for a visit that moved to a stored patient).
    bool RemoveNewPatient(const QString& id);

    // --- visits
    // Opens a visit of `patientId`; its UUID, empty on failure.
    QString OpenVisit(const QString& patientId, const VisitContext& context);
    bool OpenVisit(const QString& visitId, const QString& patientId, const VisitContext& context);
    bool AddThreshold(const QString& visitId, const ThresholdTake& take);
    bool FinishVisit(const QString& visitId);
    // Moves an open visit to another patient (the one the operator said it is).
    bool MoveVisit(const QString& visitId, const QString& patientId);
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
    // `exceptVisit`, that has a threshold.
    std::optional<VisitInfo> ComparisonVisit(const QString& patientId, const QString& exceptVisit);

    // Why the last call failed, in German; empty after a success.
    const QString& LastError() const { return lastError_; }
    // True when the last call failed because the server could not be reached.
    bool LastErrorIsConnection() const { return lastErrorIsConnection_; }

    RecordsDatabase& Database() { return database_; }

private:
    bool Fail(const QSqlError& error);
    bool Succeed();
    bool WriteWords(const QString& id, const PatientFields& fields);
    // How many patients' words start with `word`, counted up to a few more than a search takes
    // as its candidates; -1 on failure.
    int WordMatches(const QString& word);

    RecordsDatabase& database_;
    std::unique_ptr<QSqlQuery> addThreshold_;
    int preparedOn_ = 0;
    QString lastError_;
    bool lastErrorIsConnection_ = false;
};

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
