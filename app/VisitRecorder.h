#pragma once

#include "records/DatabaseAddress.h"
#include "records/PatientRecords.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

class Notice;
class RecordsDatabase;
class RecordsWriter;
struct RecordWrite;

// The visit on the window, kept in the patient records as it goes.
//
// The visit opens with the first threshold taken or the first field typed (a patient typed anew is
// kept as a new patient then); the fields are written when they have changed, whenever the window
// says so; finishing the visit closes it for good. The writes are made in order on the records'
// own thread (RecordsWriter.h); each call waits a moment for its write to be on the records, or,
// with a practice's server that cannot be reached, kept in the workstation's own file until the
// server is back. The operator is told once that the server is away and once that what was kept
// has been written; another failure (a locked or full database) is told with its reason until the
// writes go through. Nothing is dropped while the program runs.
//
// Reads (the earlier visit, a patient taken from the records, the same patient asked about) go to
// the records on the window's thread only while the server answers.
//
// Without records (none configured, or they could not be opened) every call does nothing and the
// window is as it has always been.
class VisitRecorder : public QObject {
public:
    // `records`: the records to read, opened on this thread, or null. `server`: where the
    // records are when they could not be opened yet (a practice's server that did not answer);
    // they are read once it answers. `fields` reads the window's ten fields, `context` who, where
    // and on which sound output (read when a visit opens).
    VisitRecorder(PatientRecords* records, std::optional<DatabaseAddress> server,
                  std::function<PatientFields()> fields, std::function<VisitContext()> context,
                  QObject* parent = nullptr);
    ~VisitRecorder() override;

    bool Enabled() const { return writer_ != nullptr; }
    // The records to read, null while the server does not answer.
    PatientRecords* Records();
    // How the records' place is shown to the operator.
    QString ServerShown() const;
    // The fields the window is to show when the operator keeps what another workstation saved.
    std::function<void(const PatientFields& fields)> OnStoredFieldsKept;
    // Called once the records can be read, when they could not at first.
    std::function<void()> OnRecordsReadable;

    // --- the window's events
    void FieldTyped();
    // The fields as they stand, if they have changed since they were written.
    void SaveFields();
    // `level` in tenths as the gauge showed it; `slot` the frequency's slot.
    void ThresholdTaken(Ear ear, int slot, int levelTenths, const QString& waveform);
    // Finishes the open visit (after writing the fields). `keepPatient`: the fields on the window
    // stay this patient's, and the next visit is theirs.
    void FinishVisit(bool keepPatient);

    // --- one patient for one person
    // The stored patient that the new patient typed seems to be (asked once per patient).
    std::optional<PatientSummary> SamePatientToAsk();
    // The operator said the new patient is `storedId`: the visit moves there and the new patient
    // goes; returns the fields the window is to show (stored ones, typed ones over them), which are
    // written as a change.
    std::optional<PatientFields> TakeStoredPatient(const QString& storedId);

    // --- patients from the records
    // The patient on the window, empty without one.
    const QString& PatientId() const { return patientId_; }
    // Makes `patientId` the patient on the window (no visit open yet); its fields.
    std::optional<PatientFields> LoadPatient(const QString& patientId);
    // Open visits of this operator on this workstation, the latest first, with their patients.
    std::vector<VisitInfo> UnfinishedVisits();
    // Takes an unfinished visit up again: its patient's fields, and every take by ear and slot.
    std::optional<PatientFields> ResumeVisit(const VisitInfo& visit);
    void FinishUnfinishedVisit(const VisitInfo& visit);
    // Opens the correction of the finished visit `visitId` of the patient on the window, with no
    // visit open: a new visit that names it and begins with its takes (the original stays as it
    // was). False when it is none.
    bool CorrectVisit(const QString& visitId);

    // --- what is compared
    // The earlier visit the window and the report compare with, when the patient has one.
    struct Comparison {
        QDate date;
        VisitLevels levels;
        QString outputName;
        QString outputDescription;
    };
    const std::optional<Comparison>& Earlier() const { return earlier_; }
    // Compares with the finished visit `visitId` of the patient on the window instead of their
    // latest (until the patient changes or today's visit is finished); false when it is none.
    bool ChooseBasis(const QString& visitId);
    // Today's last take per ear and slot (-1: none), whether or not written yet.
    const VisitLevels& TodayLevels() const { return today_; }
    // The ear of the last take today (for a resumed visit), nullopt without one.
    std::optional<Ear> LastEar() const { return lastEar_; }
    // The sound output of today's visit, once it is open.
    const VisitContext& TodayContext() const { return context_; }

    // --- the audit trail (written in order with the visit's writes, never waited for)
    void Audit(const QString& action, const QString& patientId, const QString& visitId = {},
               const QString& detail = {});
    // The same for the patient on the window and today's visit, when there is a patient.
    void AuditPatient(const QString& action, const QString& detail = {});

    // --- writes
    // Writes not yet on the records (waiting, or kept on this workstation for the server).
    bool HasUnwrittenData() const;
    // Waits a moment for every write to be on the records or kept on this workstation; true when
    // closing the program now loses nothing.
    bool Flush();
    QString LastReason() const;

private:
    void Queue(const RecordWrite& write);
    // Another workstation changed the patient meanwhile: the operator says whose fields stand.
    void AskAboutConflict(const RecordWrite& write);
    void EnsureVisit();
    void ForgetPatient();
    void LoadEarlier();
    void Failed();

    PatientRecords* records_;
    std::unique_ptr<RecordsDatabase> ownDatabase_;
    std::unique_ptr<PatientRecords> ownRecords_;
    std::unique_ptr<RecordsWriter> writer_;
    // A write did not settle in a moment (a server that does not answer): the next ones do not
    // wait for it.
    bool writerBehind_ = false;
    // The server did not answer the writer (reads would wait for it too).
    bool serverAway_ = false;
    bool readsLost_ = false;
    std::function<PatientFields()> fields_;
    std::function<VisitContext()> contextOf_;
    QString patientId_;
    // The visit the operator chose to compare with; empty: the latest.
    QString basis_;
    bool patientIsNew_ = false;
    bool askedSamePatient_ = false;
    QString visitId_;
    VisitContext context_;
    PatientFields written_;
    VisitLevels today_;
    std::optional<Ear> lastEar_;
    std::optional<Comparison> earlier_;
    std::unique_ptr<Notice> notice_;
};

}  // namespace velmora
