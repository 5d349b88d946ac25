// A patient's visits taken out as CSV (read back as a German spreadsheet reads it) and as a FHIR
// R4 Bundle (read back and checked against the rules of R4, and for what those cannot know: the
// levels stored, no dB, no standard hearing code).
#include "tests/app/FhirR4Check.h"
#include "tests/app/RecordsWindowFixture.h"

#include "app/PatientExport.h"
#include "app/PatientFileDialog.h"
#include "app/PracticeCommandLine.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>

#include <algorithm>

namespace velmora::test {
namespace {

// Rows of a ';' separated file with fields in double quotes where needed.
std::vector<QStringList> ReadCsv(const QString& text) {
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u';') {
            row << field;
            field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            row << field;
            field.clear();
            rows.push_back(row);
            row.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

class PatientExport : public RecordsWindowFixture {
protected:
    // A patient with a finished visit (right 1000 Hz twice, left 250 Hz) and an open one.
    QString StorePatient() {
        PatientRecords& r = Reader();
        PatientFields fields;
        fields.patientId = QStringLiteral("4711");
        fields.name = QStringLiteral("Müller; \"Sohn\"");
        fields.firstName = QStringLiteral("=Anna");
        fields.street = QStringLiteral("Hauptstraße 5");
        fields.town = QStringLiteral("Bonn");
        fields.postcode = QStringLiteral("53111");
        fields.email = QStringLiteral("anna@example.org");
        const QString id = r.CreatePatient(fields);
        const QString first = r.OpenVisit(id, VisitContext{});
        const QDateTime at(QDate(2026, 3, 4), QTime(9, 15, 0));
        EXPECT_TRUE(r.AddThreshold(first, {Ear::Right, 1000, 45, QStringLiteral("sine"), at}));
        EXPECT_TRUE(
            r.AddThreshold(first, {Ear::Right, 1000, 40, QStringLiteral("sine"), at.addSecs(60)}));
        EXPECT_TRUE(
            r.AddThreshold(first, {Ear::Left, 250, 99, QStringLiteral("sine"), at.addSecs(120)}));
        EXPECT_TRUE(r.FinishVisit(first));
        const QString second = r.OpenVisit(id, VisitContext{});
        EXPECT_TRUE(r.AddThreshold(
            second, {Ear::Both, 8000, 0, QStringLiteral("sine"), QDateTime::currentDateTime()}));
        return id;
    }
};

TEST_P(PatientExport, TheDialogWritesACsvThatAGermanSpreadsheetReads) {
    StorePatient();
    OpenWindow();
    const QString path = runtime_.filePath(QStringLiteral("akte"));  // no extension typed
    TSaveDialog::SetPresenter([&path](TSaveDialog& dialog) {
        dialog.SetFileName(path);
        dialog.SetFilterIndex(1);
        return true;
    });
    PatientFileDialog dialog(*records_, form_.get());
    dialog.SearchField()->setText(QStringLiteral("4711"));
    ASSERT_TRUE(dialog.ExportButton()->isEnabled());
    dialog.ExportButton()->click();
    EXPECT_TRUE(boxes_.empty());
    QFile file(path + QStringLiteral(".csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const std::vector<QStringList> rows = ReadCsv(QString::fromUtf8(bytes.mid(3)));
    ASSERT_EQ(rows.size(), 5u);  // the header and every take
    EXPECT_EQ(rows[0].join(u'|'),
              QStringLiteral("Patienten-ID|Name|Vorname|Datum|Uhrzeit|Ohr|Frequenz in Hz|Stufe"));
    EXPECT_EQ(rows[1].join(u'|'),
              QStringLiteral("4711|Müller; \"Sohn\"|'=Anna|04.03.2026|09:15:00|rechts|1000|4,5"));
    EXPECT_EQ(rows[2].join(u'|'),
              QStringLiteral("4711|Müller; \"Sohn\"|'=Anna|04.03.2026|09:16:00|rechts|1000|4,0"));
    EXPECT_EQ(rows[3].join(u'|'),
              QStringLiteral("4711|Müller; \"Sohn\"|'=Anna|04.03.2026|09:17:00|links|250|9,9"));
    EXPECT_EQ(rows[4].value(5), QStringLiteral("beide"));
    EXPECT_EQ(rows[4].value(7), QStringLiteral("0,0"));
    // The export is in the audit trail, by the patient's id and the form only.
    const std::vector<AuditLine> audit = records_->AuditSince({});
    const auto exported = std::find_if(audit.begin(), audit.end(), [](const AuditLine& line) {
        return line.action == audit::kExport;
    });
    ASSERT_NE(exported, audit.end());
    EXPECT_EQ(exported->detail, QStringLiteral("CSV"));
    EXPECT_FALSE(exported->patientId.isEmpty());
}

TEST_P(PatientExport, TheCommandLineWritesAFhirBundleThatKeepsTheRulesOfR4) {
    const QString id = StorePatient();
    const QString path = runtime_.filePath(QStringLiteral("4711.json"));
    PracticeCommandLine options;
    options.exportWanted = true;
    options.exportFile = path;
    options.exportPatient = QStringLiteral("4711");
    RecordsCommandLine records;
    records.database = address_;
    ASSERT_EQ(RunExport(options, records), 0);
    options.exportPatient = QStringLiteral("471");  // a word's start is no Patienten-ID
    EXPECT_EQ(RunExport(options, records), 1);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject bundle = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(bundle[QStringLiteral("resourceType")].toString(), QStringLiteral("Bundle"));
    const QJsonArray entries = bundle[QStringLiteral("entry")].toArray();
    ASSERT_EQ(entries.size(), 3);  // the patient and two visits
    const QJsonObject patient = entries[0].toObject()[QStringLiteral("resource")].toObject();
    EXPECT_EQ(patient[QStringLiteral("resourceType")].toString(), QStringLiteral("Patient"));
    EXPECT_EQ(patient[QStringLiteral("identifier")][0][QStringLiteral("value")].toString(),
              QStringLiteral("4711"));
    EXPECT_EQ(patient[QStringLiteral("name")][0][QStringLiteral("family")].toString(),
              QStringLiteral("Müller; \"Sohn\""));
    const QString patientUrl = entries[0].toObject()[QStringLiteral("fullUrl")].toString();
    EXPECT_EQ(patientUrl, QStringLiteral("urn:uuid:") + id);
    const QJsonObject first = entries[1].toObject()[QStringLiteral("resource")].toObject();
    EXPECT_EQ(first[QStringLiteral("status")].toString(), QStringLiteral("final"));
    EXPECT_EQ(first[QStringLiteral("subject")][QStringLiteral("reference")].toString(), patientUrl);
    const QJsonArray components = first[QStringLiteral("component")].toArray();
    ASSERT_EQ(components.size(), 2);  // right 1000 Hz (the last take), left 250 Hz
    const QJsonObject right = components[0].toObject();
    EXPECT_EQ(right[QStringLiteral("code")][QStringLiteral("coding")][0][QStringLiteral("code")]
                  .toString(),
              QStringLiteral("RE1000"));
    EXPECT_EQ(right[QStringLiteral("valueQuantity")][QStringLiteral("value")].toDouble(), 4.0);
    EXPECT_EQ(right[QStringLiteral("valueQuantity")][QStringLiteral("unit")].toString(),
              QStringLiteral("Stufe"));
    EXPECT_EQ(
        entries[2].toObject()[QStringLiteral("resource")][QStringLiteral("status")].toString(),
        QStringLiteral("preliminary"));
    // A relative level: never a dB unit and never a standard hearing code.
    const QString text = QString::fromUtf8(QJsonDocument(bundle).toJson());
    EXPECT_FALSE(text.contains(QStringLiteral("\"dB")));
    EXPECT_FALSE(text.contains(QStringLiteral("loinc"), Qt::CaseInsensitive));
    EXPECT_FALSE(text.contains(QStringLiteral("unitsofmeasure")));

    const QStringList faults = FhirR4Faults(bundle);
    EXPECT_TRUE(faults.isEmpty()) << faults.join(u'\n').toStdString();
    for (const QJsonValue& entry : entries) {
        for (const QJsonValue& component :
             entry[QStringLiteral("resource")][QStringLiteral("component")].toArray()) {
            const QJsonObject quantity = component[QStringLiteral("valueQuantity")].toObject();
            EXPECT_EQ(quantity[QStringLiteral("system")].toString(),
                      QString::fromLatin1(kVelmoraCodeSystem));
            EXPECT_EQ(quantity[QStringLiteral("unit")].toString(), QStringLiteral("Stufe"));
        }
    }
}

// Changes the value at a path of keys and array indices ("entry/1/resource/status"); an
// undefined value removes it.
QJsonValue Changed(const QJsonValue& at, QStringList path, const QJsonValue& value) {
    if (path.isEmpty()) {
        return value;
    }
    const QString key = path.takeFirst();
    if (at.isArray()) {
        QJsonArray array = at.toArray();
        const int index = key.toInt();
        if (path.isEmpty() && value.isUndefined()) {
            array.removeAt(index);
        } else {
            array[index] = Changed(array.at(index), path, value);
        }
        return array;
    }
    QJsonObject object = at.toObject();
    if (path.isEmpty() && value.isUndefined()) {
        object.remove(key);
    } else {
        object[key] = Changed(object.value(key), path, value);
    }
    return object;
}

// The check of the Bundle finds each kind of fault a wrong export could have.
TEST_P(PatientExport, TheCheckOfTheBundleRefusesABrokenOne) {
    const QString id = StorePatient();
    std::vector<ExportedVisit> visits;
    for (const VisitInfo& visit : Reader().VisitsOf(id)) {
        visits.push_back({visit, Reader().Thresholds(visit.id)});
    }
    const auto patient = Reader().LoadPatient(id);
    ASSERT_TRUE(patient.has_value());
    const QJsonObject bundle =
        QJsonDocument::fromJson(
            PatientFhirBundle(id, *patient, visits, QDateTime::currentDateTimeUtc()))
            .object();
    ASSERT_TRUE(FhirR4Faults(bundle).isEmpty()) << FhirR4Faults(bundle).join(u'\n').toStdString();
    const QString patientUrl =
        bundle[QStringLiteral("entry")][0][QStringLiteral("fullUrl")].toString();
    const QString visitUrl =
        bundle[QStringLiteral("entry")][1][QStringLiteral("fullUrl")].toString();
    const QJsonValue removed(QJsonValue::Undefined);
    const QString quantity = QStringLiteral("entry/1/resource/component/0/valueQuantity");
    const struct {
        QString path;
        QJsonValue value;
        const char* fault;
    } broken[] = {
        {QStringLiteral("resourceType"), QStringLiteral("Sammlung"), "must be Bundle"},
        {QStringLiteral("type"), QStringLiteral("sammlung"), "not in the value set"},
        {QStringLiteral("type"), removed, "type: required"},
        {QStringLiteral("timestamp"), QStringLiteral("04.03.2026 09:15"), "no valid instant"},
        {QStringLiteral("entry"), QJsonArray{}, "an empty array"},
        {QStringLiteral("entry/0/resource/resourceType"), QStringLiteral("Patientin"),
         "no resource type"},
        {QStringLiteral("entry/0/resource/id"), QStringLiteral("4711 Müller"), "no valid id"},
        {QStringLiteral("entry/0/resource/geschlecht"), QStringLiteral("w"),
         "no element of Patient"},
        {QStringLiteral("entry/0/resource/name/0/given"), QStringLiteral("Anna"),
         "must be an array"},
        {QStringLiteral("entry/0/resource/name/0/family"), QString(), "no valid string"},
        {QStringLiteral("entry/0/resource/name/0/family"), QJsonValue(QJsonValue::Null), "null"},
        {QStringLiteral("entry/0/resource/telecom/0/system"), removed, "cpt-2"},
        {QStringLiteral("entry/0/resource/telecom/0/system"), QStringLiteral("mail"),
         "not in the value set"},
        {QStringLiteral("entry/1/fullUrl"), patientUrl, "bdl-7"},
        {QStringLiteral("entry/1/fullUrl"), QStringLiteral("urn:uuid:Besuch-1"), "no valid uuid"},
        {QStringLiteral("entry/1/resource/status"), removed, "status: required"},
        {QStringLiteral("entry/1/resource/status"), QStringLiteral("fertig"),
         "not in the value set"},
        {QStringLiteral("entry/1/resource/code"), removed, "code: required"},
        {QStringLiteral("entry/1/resource/code"), QJsonObject{}, "an empty object"},
        {QStringLiteral("entry/1/resource/effectiveDateTime"),
         QStringLiteral("2026-03-04T09:15:00"), "no valid dateTime"},
        {QStringLiteral("entry/1/resource/subject/reference"),
         QStringLiteral("urn:uuid:00000000-0000-4000-8000-000000000000"), "resolves to no entry"},
        {QStringLiteral("entry/1/resource/subject/reference"), visitUrl, "cannot be a subject"},
        {QStringLiteral("entry/1/resource/component/0/code"), removed, "code: required"},
        {QStringLiteral("entry/1/resource/component/0/dataAbsentReason"),
         QJsonObject{{QStringLiteral("text"), QStringLiteral("nicht gemessen")}}, "obs-6"},
        {quantity + QStringLiteral("/value"), QStringLiteral("4,0"), "must be a JSON number"},
        {quantity + QStringLiteral("/system"), removed, "qty-3"},
        {quantity + QStringLiteral("/einheit"), QStringLiteral("Stufe"), "no element of Quantity"},
        {quantity + QStringLiteral("/code"), QStringLiteral(" stufe"), "no valid code"},
    };
    for (const auto& change : broken) {
        SCOPED_TRACE(change.path.toStdString());
        const QJsonObject wrong = Changed(bundle, change.path.split(u'/'), change.value).toObject();
        ASSERT_NE(wrong, bundle);
        const QStringList faults = FhirR4Faults(wrong);
        EXPECT_TRUE(faults.join(u'\n').contains(QLatin1String(change.fault)))
            << faults.join(u'\n').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(SQLite, PatientExport, ::testing::Values(DatabaseKind::SQLite), KindName);

}  // namespace
}  // namespace velmora::test
