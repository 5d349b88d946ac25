#pragma once

#include "records/PatientRecords.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora {

// One write of the visit on the window, as data: it can be kept in a file while the server is
// away and made later, in order, as it was. Every write names its rows by their UUIDs, so that
// making it a second time (after a crash between the server's commit and the keeping file's)
// changes nothing.
struct RecordWrite {
    enum class Kind {
        CreatePatient,
        SavePatient,
        OpenVisit,
        AddThreshold,
        FinishVisit,
        MoveVisit,
        RemoveNewPatient,
        Audit,
        OpenCorrection,
    };
    Kind kind = Kind::CreatePatient;
    QString patientId;
    QString visitId;
    PatientFields fields;  // CreatePatient, SavePatient
    // SavePatient: the fields the window last read or wrote; a patient changed elsewhere since is
    // not overwritten (PatientRecords::SavePatient). None: saved whatever is stored.
    std::optional<PatientFields> basedOn;
    VisitContext context;  // OpenVisit, OpenCorrection
    QString corrects;      // OpenCorrection: the finished visit it corrects
    ThresholdTake take;    // AddThreshold
    QString takeId;        // AddThreshold: the take's UUID
    AuditLine auditLine;   // Audit
    QString auditId;       // Audit: the line's UUID

    static RecordWrite CreatePatient(const QString& patientId, const PatientFields& fields);
    static RecordWrite SavePatient(const QString& patientId, const PatientFields& fields,
                                   std::optional<PatientFields> basedOn = std::nullopt);
    static RecordWrite OpenVisit(const QString& visitId, const QString& patientId,
                                 const VisitContext& context);
    static RecordWrite AddThreshold(const QString& visitId, const ThresholdTake& take);
    static RecordWrite FinishVisit(const QString& visitId);
    static RecordWrite MoveVisit(const QString& visitId, const QString& patientId);
    static RecordWrite RemoveNewPatient(const QString& patientId);
    static RecordWrite Audit(const AuditLine& line);
    static RecordWrite OpenCorrection(const QString& visitId, const QString& patientId,
                                      const QString& correctedId, const VisitContext& context);

    // Makes the write; false with records.LastError() saying why.
    bool ApplyTo(PatientRecords& records) const;

    // As kept in the workstation's file (JSON) and back; nullopt for a text that is none.
    QByteArray Serialized() const;
    static std::optional<RecordWrite> Parse(const QByteArray& text);

    bool operator==(const RecordWrite& other) const;
};

}  // namespace velmora
