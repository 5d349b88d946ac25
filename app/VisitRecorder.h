#pragma once

#include "records/PatientRecords.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

namespace velmora {

class Notice;

// The visit on the window, kept in the patient records as it goes.
//
// The visit opens with the first threshold taken or the first field typed (a patient typed anew is
// kept as a new patient then); every take is committed before ThresholdTaken returns; the fields
// are written when they have changed, whenever the window says so; finishing the visit closes it
// for good. A write that fails is kept in order with the ones after it and made again every few
// seconds and at the next write: the operator is told why once (in German), and told nothing more
// until the writes go through, which closes the notice. Nothing is dropped while the program runs.
//
// Without records (none configured, or they could not be opened) every call does nothing and the
// window is as it has always been.
class VisitRecorder : public QObject {
public:
    // `records` may be null. `fields` reads the window's ten fields, `context` who, where and on
    // which sound output (read when a visit opens).
    VisitRecorder(PatientRecords* records, std::function<PatientFields()> fields,
                  std::function<VisitContext()> context, QObject* parent = nullptr);
    ~VisitRecorder() override;

    bool Enabled() const { return records_ != nullptr; }
    PatientRecords* Records() const { return records_; }

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
    // Makes `patientId` the patient on the window (no visit open yet); its fields.
    std::optional<PatientFields> LoadPatient(const QString& patientId);
    // Open visits of this operator on this workstation, the latest first, with their patients.
    std::vector<VisitInfo> UnfinishedVisits();
    // Takes an unfinished visit up again: its patient's fields, and every take by ear and slot.
    std::optional<PatientFields> ResumeVisit(const VisitInfo& visit);
    void FinishUnfinishedVisit(const VisitInfo& visit);

    // --- what is compared
    // The earlier visit the window and the report compare with, when the patient has one.
    struct Comparison {
        QDate date;
        VisitLevels levels;
        QString outputName;
        QString outputDescription;
    };
    const std::optional<Comparison>& Earlier() const { return earlier_; }
    // Today's last take per ear and slot (-1: none), whether or not written yet.
    const VisitLevels& TodayLevels() const { return today_; }
    // The ear of the last take today (for a resumed visit), nullopt without one.
    std::optional<Ear> LastEar() const { return lastEar_; }
    // The sound output of today's visit, once it is open.
    const VisitContext& TodayContext() const { return context_; }

    // --- writes
    bool HasUnwrittenData() const { return !pending_.empty(); }
    // Makes the writes still waiting; true when none is left.
    bool Flush();
    const QString& LastReason() const { return reason_; }

private:
    using Write = std::function<bool(PatientRecords&)>;
    void Queue(Write write);
    void EnsureVisit();
    void ForgetPatient();
    void LoadEarlier();
    void Failed();

    PatientRecords* records_;
    std::function<PatientFields()> fields_;
    std::function<VisitContext()> contextOf_;
    QString patientId_;
    bool patientIsNew_ = false;
    bool askedSamePatient_ = false;
    QString visitId_;
    VisitContext context_;
    PatientFields written_;
    VisitLevels today_;
    std::optional<Ear> lastEar_;
    std::optional<Comparison> earlier_;
    std::deque<Write> pending_;
    QString reason_;
    QTimer* retry_;
    std::unique_ptr<Notice> notice_;
    bool serverLostTold_ = false;
};

}  // namespace velmora
