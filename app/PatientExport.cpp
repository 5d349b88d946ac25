#include "app/PatientExport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>

namespace velmora {

namespace {

QString EarWord(Ear ear) {
    switch (ear) {
        case Ear::Left:
            return QStringLiteral("links");
        case Ear::Right:
            return QStringLiteral("rechts");
        case Ear::Both:
            break;
    }
    return QStringLiteral("beide");
}

QString EarCode(Ear ear) {
    switch (ear) {
        case Ear::Left:
            return QStringLiteral("LI");
        case Ear::Right:
            return QStringLiteral("RE");
        case Ear::Both:
            break;
    }
    return QStringLiteral("BE");
}

QString CsvField(QString text) {
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front())) {
        text.prepend(QLatin1Char('\''));
    }
    if (text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

QString Level(int tenths) {
    return QStringLiteral("%1,%2").arg(tenths / 10).arg(tenths % 10);
}

}  // namespace

std::optional<ExportFormat> ExportFormatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"csv") {
        return ExportFormat::Csv;
    }
    if (suffix == u"json") {
        return ExportFormat::Fhir;
    }
    return std::nullopt;
}

QByteArray PatientCsv(const PatientFields& patient, const std::vector<ExportedVisit>& visits) {
    QString text =
        QStringLiteral("Patienten-ID;Name;Vorname;Datum;Uhrzeit;Ohr;Frequenz in Hz;Stufe\r\n");
    for (const ExportedVisit& visit : visits) {
        for (const ThresholdTake& take : visit.takes) {
            const QDateTime at = take.takenAt.toLocalTime();
            text += QStringList{CsvField(patient.patientId),
                                CsvField(patient.name),
                                CsvField(patient.firstName),
                                at.toString(QStringLiteral("dd.MM.yyyy")),
                                at.toString(QStringLiteral("HH:mm:ss")),
                                EarWord(take.ear),
                                QString::number(take.frequency),
                                Level(take.levelTenths)}
                        .join(QLatin1Char(';'));
            text += QStringLiteral("\r\n");
        }
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray PatientFhirBundle(const QString& internalId, const PatientFields& patient,
                             const std::vector<ExportedVisit>& visits,
                             const QDateTime& exportedAt) {
    const QString system = QString::fromLatin1(kVelmoraCodeSystem);
    const QString patientUrl = QStringLiteral("urn:uuid:") + internalId;
    QJsonObject person{{QStringLiteral("resourceType"), QStringLiteral("Patient")},
                       {QStringLiteral("id"), internalId}};
    if (!patient.patientId.isEmpty()) {
        person[QStringLiteral("identifier")] = QJsonArray{
            QJsonObject{{QStringLiteral("system"), QStringLiteral("urn:velmora:patienten-id")},
                        {QStringLiteral("value"), patient.patientId}}};
    }
    QJsonObject name;
    if (!patient.name.isEmpty()) {
        name[QStringLiteral("family")] = patient.name;
    }
    if (!patient.firstName.isEmpty()) {
        name[QStringLiteral("given")] = QJsonArray{patient.firstName};
    }
    if (!name.isEmpty()) {
        person[QStringLiteral("name")] = QJsonArray{name};
    }
    QJsonArray telecom;
    if (!patient.telephone.isEmpty()) {
        telecom.append(QJsonObject{{QStringLiteral("system"), QStringLiteral("phone")},
                                   {QStringLiteral("value"), patient.telephone}});
    }
    if (!patient.email.isEmpty()) {
        telecom.append(QJsonObject{{QStringLiteral("system"), QStringLiteral("email")},
                                   {QStringLiteral("value"), patient.email}});
    }
    if (!telecom.isEmpty()) {
        person[QStringLiteral("telecom")] = telecom;
    }
    QJsonObject address;
    if (!patient.street.isEmpty()) {
        address[QStringLiteral("line")] = QJsonArray{patient.street};
    }
    if (!patient.town.isEmpty()) {
        address[QStringLiteral("city")] = patient.town;
    }
    if (!patient.postcode.isEmpty()) {
        address[QStringLiteral("postalCode")] = patient.postcode;
    }
    if (!address.isEmpty()) {
        person[QStringLiteral("address")] = QJsonArray{address};
    }
    QJsonArray entries{
        QJsonObject{{QStringLiteral("fullUrl"), patientUrl}, {QStringLiteral("resource"), person}}};

    for (const ExportedVisit& visit : visits) {
        // The last take per ear and frequency, right, left, both, low to high.
        QJsonArray components;
        for (const Ear ear : {Ear::Right, Ear::Left, Ear::Both}) {
            for (const int frequency : kTestFrequencies) {
                const ThresholdTake* last = nullptr;
                for (const ThresholdTake& take : visit.takes) {
                    if (take.ear == ear && take.frequency == frequency) {
                        last = &take;
                    }
                }
                if (last == nullptr) {
                    continue;
                }
                const QString code =
                    EarCode(ear) + QStringLiteral("%1").arg(frequency, 4, 10, QLatin1Char('0'));
                components.append(QJsonObject{
                    {QStringLiteral("code"),
                     QJsonObject{{QStringLiteral("coding"),
                                  QJsonArray{QJsonObject{
                                      {QStringLiteral("system"), system},
                                      {QStringLiteral("code"), code},
                                      {QStringLiteral("display"), QStringLiteral("Ohr %1, %2 Hz")
                                                                      .arg(EarWord(ear))
                                                                      .arg(frequency)}}}}}},
                    {QStringLiteral("valueQuantity"),
                     QJsonObject{{QStringLiteral("value"), last->levelTenths / 10.0},
                                 {QStringLiteral("unit"), QStringLiteral("Stufe")},
                                 {QStringLiteral("system"), system},
                                 {QStringLiteral("code"), QStringLiteral("stufe")}}}});
            }
        }
        QJsonObject observation{
            {QStringLiteral("resourceType"), QStringLiteral("Observation")},
            {QStringLiteral("id"), visit.visit.id},
            {QStringLiteral("status"),
             visit.visit.open ? QStringLiteral("preliminary") : QStringLiteral("final")},
            {QStringLiteral("code"),
             QJsonObject{{QStringLiteral("coding"),
                          QJsonArray{QJsonObject{
                              {QStringLiteral("system"), system},
                              {QStringLiteral("code"), QStringLiteral("relativer-hoertest")},
                              {QStringLiteral("display"), QStringLiteral("Relativer Hörtest")}}}},
                         {QStringLiteral("text"),
                          QStringLiteral("Relativer Hörtest, Stufen 0.0 bis 9.9 (nicht dB HL)")}}},
            {QStringLiteral("subject"), QJsonObject{{QStringLiteral("reference"), patientUrl}}},
            {QStringLiteral("effectiveDateTime"),
             visit.visit.started.toOffsetFromUtc(visit.visit.started.offsetFromUtc())
                 .toString(Qt::ISODate)}};
        if (!components.isEmpty()) {
            observation[QStringLiteral("component")] = components;
        }
        entries.append(
            QJsonObject{{QStringLiteral("fullUrl"), QStringLiteral("urn:uuid:") + visit.visit.id},
                        {QStringLiteral("resource"), observation}});
    }
    const QJsonObject bundle{
        {QStringLiteral("resourceType"), QStringLiteral("Bundle")},
        {QStringLiteral("type"), QStringLiteral("collection")},
        {QStringLiteral("timestamp"), exportedAt.toUTC().toString(Qt::ISODate)},
        {QStringLiteral("entry"), entries}};
    return QJsonDocument(bundle).toJson(QJsonDocument::Indented);
}

std::optional<QString> PatientWithNumber(PatientRecords& records, const QString& patientNumber) {
    if (patientNumber.trimmed().isEmpty()) {
        return std::nullopt;
    }
    for (const PatientSummary& found : records.Search(patientNumber, 100)) {
        if (found.patientId == patientNumber) {
            return found.id;
        }
    }
    return std::nullopt;
}

QString ExportPatient(PatientRecords& records, const QString& internalId, const QString& path) {
    const auto format = ExportFormatOf(path);
    if (!format) {
        return QStringLiteral("„%1“: das Format wird an der Endung erkannt, .csv oder .json.")
            .arg(path);
    }
    const auto patient = records.LoadPatient(internalId);
    if (!patient) {
        return records.LastError().isEmpty() ? QStringLiteral("Der Patient ist nicht gespeichert.")
                                             : records.LastError();
    }
    std::vector<VisitInfo> infos = records.VisitsOf(internalId);
    std::vector<ExportedVisit> visits;
    // Oldest first, as a table is read.
    for (auto it = infos.rbegin(); it != infos.rend(); ++it) {
        visits.push_back({*it, records.Thresholds(it->id)});
    }
    const QByteArray bytes =
        *format == ExportFormat::Csv
            ? PatientCsv(*patient, visits)
            : PatientFhirBundle(internalId, *patient, visits, QDateTime::currentDateTimeUtc());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        return QStringLiteral("„%1“ kann nicht geschrieben werden: %2")
            .arg(path, file.errorString());
    }
    // The data protection officer sees that the patient left the records, and in which form.
    records.AddAudit(QUuid::createUuid().toString(QUuid::WithoutBraces),
                     AuditLine::Now(audit::kExport, internalId, {},
                                    *format == ExportFormat::Csv ? QStringLiteral("CSV")
                                                                 : QStringLiteral("FHIR")));
    return {};
}

}  // namespace velmora
