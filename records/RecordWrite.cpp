#include "records/RecordWrite.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace velmora {
namespace {

constexpr std::array<const char*, 9> kKindNames = {
    "create-patient", "save-patient",       "open-visit", "add-threshold",   "finish-visit",
    "move-visit",     "remove-new-patient", "audit",      "open-correction",
};

QString TimeText(const QDateTime& time) {
    return time.isValid() ? QString::number(time.toMSecsSinceEpoch()) : QString();
}

QDateTime TimeFrom(const QString& text) {
    return text.isEmpty() ? QDateTime()
                          : QDateTime::fromMSecsSinceEpoch(text.toLongLong(), Qt::UTC);
}

// A write kept by an earlier program has the ten fields without the date of birth.
constexpr qsizetype kEarlierFieldCount = 10;

std::array<QString*, 11> FieldsOf(PatientFields& f) {
    return {&f.patientId, &f.firstName, &f.name,      &f.town,    &f.street,   &f.email,
            &f.doctor,    &f.postcode,  &f.telephone, &f.remarks, &f.birthDate};
}

// Texts of an array of kEarlierFieldCount or all fields into `fields`; false for another size.
bool ReadFields(const QJsonArray& texts, PatientFields* fields) {
    const auto all = FieldsOf(*fields);
    if (texts.size() != kEarlierFieldCount && texts.size() != qsizetype(all.size())) {
        return false;
    }
    for (qsizetype i = 0; i < texts.size(); ++i) {
        *all[std::size_t(i)] = texts[i].toString();
    }
    return true;
}

}  // namespace

RecordWrite RecordWrite::CreatePatient(const QString& patientId, const PatientFields& fields) {
    RecordWrite write;
    write.kind = Kind::CreatePatient;
    write.patientId = patientId;
    write.fields = fields;
    return write;
}

RecordWrite RecordWrite::SavePatient(const QString& patientId, const PatientFields& fields,
                                     std::optional<PatientFields> basedOn) {
    RecordWrite write = CreatePatient(patientId, fields);
    write.kind = Kind::SavePatient;
    write.basedOn = std::move(basedOn);
    return write;
}

RecordWrite RecordWrite::OpenVisit(const QString& visitId, const QString& patientId,
                                   const VisitContext& context) {
    RecordWrite write;
    write.kind = Kind::OpenVisit;
    write.visitId = visitId;
    write.patientId = patientId;
    write.context = context;
    return write;
}

RecordWrite RecordWrite::AddThreshold(const QString& visitId, const ThresholdTake& take) {
    RecordWrite write;
    write.kind = Kind::AddThreshold;
    write.visitId = visitId;
    write.take = take;
    write.takeId = NewRecordId();
    if (!write.take.takenAt.isValid()) {
        write.take.takenAt = QDateTime::currentDateTimeUtc();
    }
    return write;
}

RecordWrite RecordWrite::FinishVisit(const QString& visitId) {
    RecordWrite write;
    write.kind = Kind::FinishVisit;
    write.visitId = visitId;
    return write;
}

RecordWrite RecordWrite::MoveVisit(const QString& visitId, const QString& patientId) {
    RecordWrite write;
    write.kind = Kind::MoveVisit;
    write.visitId = visitId;
    write.patientId = patientId;
    return write;
}

RecordWrite RecordWrite::RemoveNewPatient(const QString& patientId) {
    RecordWrite write;
    write.kind = Kind::RemoveNewPatient;
    write.patientId = patientId;
    return write;
}

RecordWrite RecordWrite::Audit(const AuditLine& line) {
    RecordWrite write;
    write.kind = Kind::Audit;
    write.auditLine = line;
    write.patientId = line.patientId;
    write.auditId = NewRecordId();
    return write;
}

RecordWrite RecordWrite::OpenCorrection(const QString& visitId, const QString& patientId,
                                        const QString& correctedId, const VisitContext& context) {
    RecordWrite write;
    write.kind = Kind::OpenCorrection;
    write.visitId = visitId;
    write.patientId = patientId;
    write.corrects = correctedId;
    write.context = context;
    return write;
}

bool RecordWrite::ApplyTo(PatientRecords& records) const {
    switch (kind) {
        case Kind::CreatePatient:
            return records.CreatePatient(patientId, fields);
        case Kind::SavePatient:
            return records.SavePatient(patientId, fields, basedOn ? &*basedOn : nullptr);
        case Kind::OpenVisit:
            return records.OpenVisit(visitId, patientId, context);
        case Kind::AddThreshold:
            return records.AddThreshold(visitId, take, takeId);
        case Kind::FinishVisit:
            return records.FinishVisit(visitId);
        case Kind::MoveVisit:
            return records.MoveVisit(visitId, patientId);
        case Kind::RemoveNewPatient:
            return records.RemoveNewPatient(patientId);
        case Kind::OpenCorrection:
            return records.OpenCorrection(visitId, corrects, context);
        case Kind::Audit: {
            AuditLine line = auditLine;
            line.patientId = patientId;  // as the server knows the patient
            return records.AddAudit(auditId, line);
        }
    }
    return false;
}

QByteArray RecordWrite::Serialized() const {
    QJsonObject object;
    object[QStringLiteral("kind")] = QString::fromLatin1(kKindNames[std::size_t(kind)]);
    object[QStringLiteral("patient")] = patientId;
    object[QStringLiteral("visit")] = visitId;
    QJsonArray fieldTexts;
    PatientFields copy = fields;
    for (const QString* field : FieldsOf(copy)) {
        fieldTexts.append(*field);
    }
    object[QStringLiteral("fields")] = fieldTexts;
    if (basedOn) {
        QJsonArray basedOnTexts;
        PatientFields before = *basedOn;
        for (const QString* field : FieldsOf(before)) {
            basedOnTexts.append(*field);
        }
        object[QStringLiteral("basedOn")] = basedOnTexts;
    }
    if (!corrects.isEmpty()) {
        object[QStringLiteral("corrects")] = corrects;
    }
    object[QStringLiteral("context")] =
        QJsonArray{context.operatorName, context.workstation, context.outputName,
                   context.outputDescription, context.waveform};
    object[QStringLiteral("take")] =
        QJsonArray{EarName(take.ear), take.frequency,         take.levelTenths,
                   take.waveform,     TimeText(take.takenAt), takeId};
    object[QStringLiteral("audit")] = QJsonArray{
        TimeText(auditLine.at), auditLine.user,    auditLine.workstation, auditLine.action,
        auditLine.patientId,    auditLine.visitId, auditLine.detail,      auditId};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<RecordWrite> RecordWrite::Parse(const QByteArray& text) {
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    RecordWrite write;
    const QString kindName = object[QStringLiteral("kind")].toString();
    bool known = false;
    for (std::size_t i = 0; i < kKindNames.size(); ++i) {
        if (kindName == QLatin1String(kKindNames[i])) {
            write.kind = Kind(i);
            known = true;
        }
    }
    const QJsonArray fieldTexts = object[QStringLiteral("fields")].toArray();
    const QJsonArray context = object[QStringLiteral("context")].toArray();
    const QJsonArray take = object[QStringLiteral("take")].toArray();
    const QJsonArray audit = object[QStringLiteral("audit")].toArray();
    if (!known || !ReadFields(fieldTexts, &write.fields) || context.size() != 5 ||
        take.size() != 6 || audit.size() != 8) {
        return std::nullopt;
    }
    write.patientId = object[QStringLiteral("patient")].toString();
    write.visitId = object[QStringLiteral("visit")].toString();
    if (object.contains(QStringLiteral("basedOn"))) {
        write.basedOn.emplace();
        if (!ReadFields(object[QStringLiteral("basedOn")].toArray(), &*write.basedOn)) {
            return std::nullopt;
        }
    }
    write.corrects = object[QStringLiteral("corrects")].toString();
    write.context = {context[0].toString(), context[1].toString(), context[2].toString(),
                     context[3].toString(), context[4].toString()};
    write.take.ear = EarOf(take[0].toString()).value_or(Ear::Both);
    write.take.frequency = take[1].toInt();
    write.take.levelTenths = take[2].toInt();
    write.take.waveform = take[3].toString();
    write.take.takenAt = TimeFrom(take[4].toString());
    write.takeId = take[5].toString();
    write.auditLine = {TimeFrom(audit[0].toString()),
                       audit[1].toString(),
                       audit[2].toString(),
                       audit[3].toString(),
                       audit[4].toString(),
                       audit[5].toString(),
                       audit[6].toString()};
    write.auditId = audit[7].toString();
    return write;
}

bool RecordWrite::operator==(const RecordWrite& other) const {
    return Serialized() == other.Serialized();
}

}  // namespace velmora
