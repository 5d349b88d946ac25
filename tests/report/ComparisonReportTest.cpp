// The report of a patient seen before ends with today's levels beside the earlier visit's; the
// report of a first visit is the report it always was.
#include "app/Unit1.h"
#include "app/VisitRecorder.h"

#include "controls/ExTrackBar.h"
#include "controls/janColorButton.h"
#include "framework/Edit.h"
#include "framework/MessageBox.h"
#include "framework/RadioButton.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"
#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"

#include "tests/support/ReportEnd.h"

#include <QSqlQuery>

#include <initializer_list>
#include <map>
#include <utility>

#include "DocxReader.h"
#include "WriterFixture.h"

namespace velmora::test {
namespace {

class ComparisonReport : public WriterFixture {
protected:
    void SetUp() override {
        WriterFixture::SetUp();
        qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("run")).toLocal8Bit());
        QDir().mkpath(home.filePath(QStringLiteral("run")));
        mixer.AddDevice("Card");
    }

    ReadDocument Read(const QString& file) {
        ReadDocument doc;
        QString error;
        EXPECT_TRUE(ReadDocx(QDir(ReportFolder()).filePath(file), &doc, &error))
            << error.toStdString();
        return doc;
    }
    static QStringList Lines(const ReadDocument& doc) {
        QStringList lines;
        for (const ReadParagraph& p : doc.paragraphs) {
            lines << p.Text();
        }
        return lines;
    }
    // The same test on a window: the left ear at 1000 and 2000 Hz, then the report.
    void Test(TForm1& form, int coarse1000, int coarse2000) {
        form.WordApplication1->SetServerRegistry(&registry);
        form.Edit2->SetText(QStringLiteral("Erika"));
        form.Edit3->SetText(QStringLiteral("Mustermann"));
        ASSERT_NO_FATAL_FAILURE(LeftEarThenReport(
            form, {{form.RadioButton7, coarse1000}, {form.RadioButton8, coarse2000}}));
    }
    // Thresholds of the left ear at the frequencies of the radio buttons given, then the report.
    void LeftEarThenReport(TForm1& form,
                           std::initializer_list<std::pair<TRadioButton*, int>> takes) {
        form.RadioButton1->SetChecked(true);
        for (const auto& [radio, coarse] : takes) {
            radio->SetChecked(true);
            form.ExTrackBar1->SetPosition(coarse);
            form.HemisphereButton2Click(nullptr);
        }
        form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
        ASSERT_TRUE(ReportEnded(form));
    }

    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
};

TEST_F(ComparisonReport, TheTableFollowsTheRemarksWithBothVisitsLevels) {
    TReportSources sources = FilledSources();
    TReportComparison comparison;
    comparison.EarlierDate = QDate(2026, 6, 1);
    comparison.LeftToday = {-1, -1, -1, 34, 50, -1, -1};
    comparison.LeftEarlier = {-1, -1, -1, 20, 49, 0, -1};
    comparison.RightToday = {99, -1, -1, -1, -1, -1, -1};
    comparison.RightEarlier = {-1, -1, -1, -1, -1, -1, 7};
    comparison.OtherOutput = QStringLiteral("USB-Kopfhörer");
    sources.Comparison = comparison;
    WriteReport(word, sources);
    ASSERT_EQ(Reports().size(), 1);
    const QStringList lines = Lines(Read(Reports()[0]));
    const QStringList expected =
        ExpectedLines() +
        QStringList{
            QString(),
            QStringLiteral("Vergleich mit der Untersuchung vom 01.06.2026"),
            QStringLiteral("Frequenz\tLinks heute\tLinks damals\tRechts heute\tRechts damals"),
            QStringLiteral("125 Hz\t–\t–\t9.9\t–"),
            QStringLiteral("250 Hz\t–\t–\t–\t–"),
            QStringLiteral("500 Hz\t–\t–\t–\t–"),
            QStringLiteral("1000 Hz\t3.4\t2.0\t–\t–"),
            QStringLiteral("2000 Hz\t5.0\t4.9\t–\t–"),
            QStringLiteral("4000 Hz\t–\t0.0\t–\t–"),
            QStringLiteral("8000 Hz\t–\t–\t–\t0.7"),
            QStringLiteral(
                "Die frühere Untersuchung wurde über eine andere Tonausgabe "
                "(USB-Kopfhörer) gemacht; die Pegel sind nicht unmittelbar vergleichbar."),
        };
    // The remarks end the Part's text without a line feed; the comparison starts a paragraph.
    ASSERT_GE(lines.size(), expected.size() - 1);
    EXPECT_EQ(lines.mid(0, ExpectedLines().size() - 1),
              ExpectedLines().mid(0, ExpectedLines().size() - 1));
    EXPECT_EQ(lines.mid(lines.size() - 10), expected.mid(expected.size() - 10));
}

TEST_F(ComparisonReport, AFirstVisitsReportIsTodaysAndTheSecondComparesWithIt) {
    // Today's report: a window without records.
    {
        TForm1 plain(nullptr, sound, mixer);
        Test(plain, 2, 3);
    }
    ASSERT_EQ(Reports().size(), 1);
    const QString today = Reports()[0];

    QString error;
    const auto address =
        DatabaseAddress::Parse(home.filePath(QStringLiteral("records/velmora.sqlite")), &error);
    auto database = RecordsDatabase::Open(*address, &error);
    ASSERT_TRUE(database) << error.toStdString();
    PatientRecords records(*database);
    mixer.SetSpeakerOutput({"alsa_output.usb", "USB-Kopfhörer"});
    {
        TForm1 form(nullptr, sound, mixer, &records);
        Test(form, 2, 3);
        ASSERT_EQ(Reports().size(), 2);
        // The first visit's report: the same document, byte for byte.
        QString first = Reports()[0] == today ? Reports()[1] : Reports()[0];
        EXPECT_EQ(Read(first).parts.at(QStringLiteral("word/document.xml")),
                  Read(today).parts.at(QStringLiteral("word/document.xml")));
        // The next visit, on the same window after "Neuer Patient" (the fields kept), on
        // another output.
        boxes.answers = {IDNO};
        form.janColorButton3click(nullptr);
        mixer.SetSpeakerOutput({"alsa_output.pci", "Lautsprecher"});
        ASSERT_NO_FATAL_FAILURE(
            LeftEarThenReport(form, {{form.RadioButton7, 4}, {form.RadioButton9, 1}}));
    }
    ASSERT_EQ(Reports().size(), 3);
    const QFileInfoList newestFirst =
        QDir(ReportFolder()).entryInfoList({QStringLiteral("*.docx")}, QDir::Files, QDir::Time);
    const QStringList lines = Lines(Read(newestFirst.first().fileName()));
    ASSERT_GE(lines.size(), 11);
    EXPECT_EQ(
        lines.mid(lines.size() - 10),
        (QStringList{
            QStringLiteral("Vergleich mit der Untersuchung vom ") +
                QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")),
            QStringLiteral("Frequenz\tLinks heute\tLinks damals\tRechts heute\tRechts damals"),
            QStringLiteral("125 Hz\t–\t–\t–\t–"),
            QStringLiteral("250 Hz\t–\t–\t–\t–"),
            QStringLiteral("500 Hz\t–\t–\t–\t–"),
            QStringLiteral("1000 Hz\t4.0\t2.0\t–\t–"),
            QStringLiteral("2000 Hz\t–\t3.0\t–\t–"),
            QStringLiteral("4000 Hz\t1.0\t–\t–\t–"),
            QStringLiteral("8000 Hz\t–\t–\t–\t–"),
            QStringLiteral("Die frühere Untersuchung wurde über eine andere Tonausgabe "
                           "(USB-Kopfhörer) gemacht; die Pegel sind nicht unmittelbar "
                           "vergleichbar."),
        }));
}

// The report compares with the patient's latest visit, or with the one chosen as the basis.
TEST_F(ComparisonReport, TheReportComparesWithTheVisitChosenAsTheBasis) {
    QString error;
    const auto address =
        DatabaseAddress::Parse(home.filePath(QStringLiteral("records/velmora.sqlite")), &error);
    auto database = RecordsDatabase::Open(*address, &error);
    ASSERT_TRUE(database) << error.toStdString();
    PatientRecords records(*database);
    mixer.SetSpeakerOutput({"alsa_output.usb", "USB-Kopfhörer"});
    PatientFields fields;
    fields.firstName = QStringLiteral("Erika");
    fields.name = QStringLiteral("Mustermann");
    const QString patient = records.CreatePatient(fields);
    std::map<int, QString> visitDaysAgo;
    for (const auto& [daysAgo, level] : {std::pair{20, 20}, std::pair{10, 30}}) {
        VisitContext context;
        context.outputName = QStringLiteral("alsa_output.usb");
        const QString visit = records.OpenVisit(patient, context);
        ASSERT_TRUE(records.AddThreshold(visit, {Ear::Left, 1000, level, {}, {}}));
        ASSERT_TRUE(records.FinishVisit(visit));
        QSqlQuery query(database->Connection());
        query.prepare(QStringLiteral("UPDATE visit SET started_at = ? WHERE id = ?"));
        query.addBindValue(QDateTime::currentDateTimeUtc().addDays(-daysAgo).toMSecsSinceEpoch());
        query.addBindValue(visit);
        ASSERT_TRUE(query.exec());
        visitDaysAgo[daysAgo] = visit;
    }
    const struct {
        int basisDaysAgo;  // 0: none chosen
        int comparedDaysAgo;
        const char* row1000;
    } cases[] = {{0, 10, "1000 Hz\t4.0\t3.0\t–\t–"}, {20, 20, "1000 Hz\t4.0\t2.0\t–\t–"}};
    for (const auto& c : cases) {
        const int before = int(Reports().size());
        {
            TForm1 form(nullptr, sound, mixer, &records);
            ASSERT_TRUE(form.Recorder->LoadPatient(patient));
            if (c.basisDaysAgo != 0) {
                ASSERT_TRUE(form.Recorder->ChooseBasis(visitDaysAgo[c.basisDaysAgo]));
            }
            Test(form, 4, 5);
        }
        ASSERT_EQ(int(Reports().size()), before + 1);
        const QFileInfoList newestFirst =
            QDir(ReportFolder()).entryInfoList({QStringLiteral("*.docx")}, QDir::Files, QDir::Time);
        const QStringList lines = Lines(Read(newestFirst.first().fileName()));
        const QString heading =
            QStringLiteral("Vergleich mit der Untersuchung vom ") +
            QDate::currentDate().addDays(-c.comparedDaysAgo).toString(QStringLiteral("dd.MM.yyyy"));
        EXPECT_TRUE(lines.contains(heading)) << c.basisDaysAgo << "\n"
                                             << lines.join(u'\n').toStdString();
        EXPECT_TRUE(lines.contains(QString::fromUtf8(c.row1000)))
            << c.basisDaysAgo << "\n"
            << lines.join(u'\n').toStdString();
    }
}

}  // namespace
}  // namespace velmora::test
