// "Bericht erstellen" on the test console: the click produces the report from what the window
// shows, with the curve picture that "Kurve abspeichern" left in the private directory.
#include "app/Unit1.h"

#include "controls/ExTrackBar.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Bitmap.h"
#include "framework/Dialogs.h"
#include "framework/Edit.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/RadioButton.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include "tests/support/ReportEnd.h"

#include "DocxReader.h"
#include "KeptCurveCases.h"
#include "WriterFixture.h"

#include <QApplication>

#include <condition_variable>
#include <mutex>

namespace velmora::test {
namespace {

class WindowReport : public WriterFixture {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char arg0[] = "velmora-test";
        static char* argv[] = {arg0, nullptr};
        if (QApplication::instance() == nullptr) {
            new QApplication(argc, argv);  // lives to the end of the test program
        }
    }
    void SetUp() override {
        WriterFixture::SetUp();
        saved_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("run")).toLocal8Bit());
        QDir().mkpath(home.filePath(QStringLiteral("run")));
    }
    void TearDown() override {
        qputenv("XDG_RUNTIME_DIR", saved_);
        WriterFixture::TearDown();
    }

    // "Kurve abspeichern" without a copy.
    static void Keep(TForm1& form) {
        const auto previous = TSaveDialog::SetPresenter([](TSaveDialog&) { return false; });
        form.janColorButton1click(nullptr);
        TSaveDialog::SetPresenter(previous);
    }
    // "Bericht erstellen", and the run's end.
    static void Click(TForm1& form) {
        form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
        ASSERT_TRUE(ReportEnded(form));
    }
    static void TakeThreshold(TForm1& form, int coarse) {
        form.ExTrackBar1->SetPosition(coarse);
        form.HemisphereButton2Click(nullptr);
    }
    // The report written last, read back, and its pictures.
    ReadDocument LastReport() {
        ReadDocument doc;
        QString error;
        const QFileInfoList newestFirst =
            QDir(ReportFolder()).entryInfoList({QStringLiteral("*.docx")}, QDir::Files, QDir::Time);
        EXPECT_FALSE(newestFirst.isEmpty());
        EXPECT_TRUE(!newestFirst.isEmpty() &&
                    ReadDocx(newestFirst.first().filePath(), &doc, &error))
            << error.toStdString();
        return doc;
    }
    static std::vector<QImage> Pictures(const ReadDocument& doc) {
        std::vector<QImage> images;
        for (const ReadParagraph& p : doc.paragraphs) {
            for (const ReadRun& run : p.runs) {
                if (!run.picture.isEmpty()) {
                    const auto target = doc.relationships.find(run.picture);
                    const auto part =
                        target == doc.relationships.end()
                            ? doc.parts.end()
                            : doc.parts.find(QStringLiteral("word/") + target->second);
                    images.push_back(part == doc.parts.end() ? QImage()
                                                             : QImage::fromData(part->second));
                }
            }
        }
        return images;
    }

    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;

private:
    QByteArray saved_;
};

TEST_F(WindowReport, TheClickWritesWhatTheWindowShows) {
    TForm1 form(nullptr, sound, mixer);
    // The built-in writer only, even where an office suite is installed.
    form.WordApplication1->SetServerRegistry(&registry);
    form.Edit1->SetText(QStringLiteral("P-17"));
    form.Edit2->SetText(QStringLiteral("Max"));
    form.Edit3->SetText(QStringLiteral("Muster"));
    form.NumEdit1->SetText(QStringLiteral("10115"));
    form.Edit4->SetText(QStringLiteral("Berlin"));
    form.Memo1->SetLines({QStringLiteral("Erste Zeile"), QStringLiteral("Zweite Zeile")});
    // The left ear's curve, kept by "Kurve abspeichern".
    form.RadioButton1->SetChecked(true);
    Keep(form);
    TBitmap curve;
    ASSERT_TRUE(curve.LoadFromFile(form.PicturePaths[1]));
    boxes.shown.clear();

    Click(form);

    ASSERT_EQ(Reports().size(), 1);
    EXPECT_TRUE(Reports()[0].startsWith(QStringLiteral("Velmora-Bericht P-17 ")));
    ASSERT_EQ(opened.size(), 1u);
    ReadDocument doc;
    QString error;
    ASSERT_TRUE(ReadDocx(QDir(ReportFolder()).filePath(Reports()[0]), &doc, &error));
    ASSERT_GT(doc.paragraphs.size(), 20u);
    EXPECT_EQ(doc.paragraphs[0].Text(),
              QStringLiteral("Velmora - Relativtest vom ") +
                  QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    EXPECT_EQ(doc.paragraphs[3].Text(),
              QStringLiteral("Patient:%1Max Muster").arg(QString(25, ' ')));
    EXPECT_EQ(doc.paragraphs[6].Text(),
              QString(37, QLatin1Char(' ')) + QStringLiteral("10115 Berlin"));
    // Only the left section has a picture: the one saved, at its size.
    int pictures = 0;
    for (const ReadParagraph& p : doc.paragraphs) {
        pictures += p.Pictures();
    }
    EXPECT_EQ(pictures, 1);
    EXPECT_EQ(doc.paragraphs[16].Pictures(), 1);
    EXPECT_EQ(doc.paragraphs[16].runs[0].cx, qint64(curve.Width()) * 9525);
    // The memo's lines, each ended by CR LF, become paragraphs; the last break leaves an
    // empty one.
    const std::size_t n = doc.paragraphs.size();
    EXPECT_EQ(doc.paragraphs[n - 3].Text(), QStringLiteral("Erste Zeile"));
    EXPECT_EQ(doc.paragraphs[n - 2].Text(), QStringLiteral("Zweite Zeile"));
    EXPECT_EQ(doc.paragraphs[n - 1].Text(), QString());
    EXPECT_TRUE(form.WordApplication1->Connected());
}

// Whatever order the operator works in, a report shows only curves kept for the patient on
// screen, as the curves stand when the report is made.
TEST_F(WindowReport, AReportHoldsOnlyThisPatientsCurvesAsTheyStand) {
    // A picture an earlier run left behind (it ended in a crash): gone at start-up.
    const QString leftover = TForm1::CurvePicturePath(1);
    ASSERT_FALSE(leftover.isEmpty());
    TBitmap old;
    old.SetSize(340, 140);
    ASSERT_TRUE(old.SaveToFile(leftover));
    TForm1 form(nullptr, sound, mixer);
    form.WordApplication1->SetServerRegistry(&registry);
    EXPECT_FALSE(QFile::exists(leftover));
    Click(form);
    EXPECT_TRUE(Pictures(LastReport()).empty()) << "the report showed a picture of no one";

    // Patient A's left curve kept; the fields cleared with "Ja"; patient B's report.
    form.RadioButton1->SetChecked(true);
    form.Edit1->SetText(QStringLiteral("A"));
    TakeThreshold(form, 6);
    Keep(form);
    boxes.answers = {IDYES};
    form.janColorButton7click(nullptr);
    form.Edit1->SetText(QStringLiteral("B"));
    Click(form);
    EXPECT_TRUE(Pictures(LastReport()).empty()) << "B's report showed A's curve";

    // Kept at level 6, then taken again at level 2 at the same frequency: the report shows 2.
    TakeThreshold(form, 6);
    Keep(form);
    TakeThreshold(form, 2);
    Click(form);
    const std::vector<QImage> pictures = Pictures(LastReport());
    ASSERT_EQ(pictures.size(), 1u);
    ASSERT_FALSE(pictures[0].isNull());
    // The 1000 Hz marker (columns 170 to 174) stands at the plot value of the level: row 24 for
    // level 2, not row 72 for level 6. The left ear's colour: RGB(135, 0, 255).
    const QRgb leftEar = qRgb(135, 0, 255);
    EXPECT_EQ(pictures[0].pixel(172, 26), leftEar);
    EXPECT_NE(pictures[0].pixel(172, 74), leftEar);
}

// A kept curve is only replaced by a later picture of the same curve: a change of ear or a reset
// starts a new, empty curve, which never takes the kept one's place in the report.
TEST_F(WindowReport, AKeptCurveOutlivesAnEmptiedCurveOfItsEar) {
    for (const KeptCurveCase& c : KeptCurveCases()) {
        SCOPED_TRACE(c.name);
        TForm1 form(nullptr, sound, mixer);
        form.WordApplication1->SetServerRegistry(&registry);
        MeasureAtLevelFive(form, c);
        Keep(form);
        c.then(form);
        Click(form);

        const std::vector<QImage> pictures = Pictures(LastReport());
        ASSERT_EQ(pictures.size(), 1u);
        ExpectMeasuredCurve(pictures[0], c);
        // The curve stays kept for the next report too.
        EXPECT_FALSE(form.PicturePaths[c.left ? 1 : 0].isEmpty());
    }
}

// The window stays operable while a report waits for its word processor, and nothing the operator
// does meanwhile changes that report: it is the report of the patient it was started for, with
// that patient's curve, and one click makes one report; "Beenden" closes the window after it.
TEST_F(WindowReport, WhatTheOperatorDoesDuringAReportDoesNotChangeIt) {
    // A word processor that keeps the report waiting until the test lets it go on.
    std::mutex mutex;
    std::condition_variable changed;
    bool goOn = false;
    TServerRegistry slow;
    slow.RegisterFactory(Word_2k::CLSID_WordApplication, QStringLiteral("Word.Application"),
                         [&, builtIn = BuiltInWriterFactory(slow)](IUnknown** server) {
                             std::unique_lock lock(mutex);
                             changed.wait(lock, [&] { return goOn; });
                             return builtIn(server);
                         });
    TForm1 form(nullptr, sound, mixer);
    form.WordApplication1->SetServerRegistry(&slow);
    form.show();
    form.Edit1->SetText(QStringLiteral("A"));
    form.RadioButton1->SetChecked(true);
    TakeThreshold(form, 5);
    Keep(form);
    boxes.shown.clear();

    form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
    EXPECT_TRUE(form.ReportRunning());
    EXPECT_EQ(form.cursor().shape(), Qt::BusyCursor);
    // Meanwhile: a second click, then the next patient with a curve of the other ear.
    form.janColorButton2click(nullptr);
    boxes.answers = {IDYES};
    form.janColorButton3click(nullptr);  // "Neuer Patient": fields and kept pictures go
    form.Edit1->SetText(QStringLiteral("B"));
    form.RadioButton2->SetChecked(true);
    TakeThreshold(form, 2);
    Keep(form);
    EXPECT_TRUE(form.ReportRunning()) << "the report did not wait";
    // "Beenden": the window waits for the report's end, then closes.
    form.janColorButton4click(nullptr);
    EXPECT_TRUE(form.isVisible()) << "the window closed under its report";
    {
        const std::lock_guard lock(mutex);
        goOn = true;
    }
    changed.notify_all();
    ASSERT_TRUE(ReportEnded(form));
    EXPECT_NE(form.cursor().shape(), Qt::BusyCursor);
    EXPECT_FALSE(form.isVisible()) << "the window did not close after its report";

    ASSERT_EQ(Reports().size(), 1) << "one click, one report";
    EXPECT_TRUE(Reports()[0].startsWith(QStringLiteral("Velmora-Bericht A ")));
    const ReadDocument doc = LastReport();
    ASSERT_GT(doc.paragraphs.size(), 16u);
    EXPECT_EQ(doc.paragraphs[16].Pictures(), 1) << "A's left curve is missing";
    const std::vector<QImage> pictures = Pictures(doc);
    ASSERT_EQ(pictures.size(), 1u) << "a curve that is not A's";
    EXPECT_EQ(pictures[0].pixel(172, 62), qRgb(135, 0, 255)) << "not A's curve at level 5";
    EXPECT_EQ(form.Edit1->Text(), QStringLiteral("B"));
    EXPECT_TRUE(boxes.shown.size() == 1 && boxes.shown[0].text.contains(QStringLiteral("löschen")))
        << "the report showed a box";
}

}  // namespace
}  // namespace velmora::test
