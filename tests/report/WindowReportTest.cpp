// "Bericht erstellen" on the test console: the click produces the report from what the window
// shows, with the curve picture that "Kurve abspeichern" left in the private directory.
#include "app/Unit1.h"

#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Edit.h"
#include "framework/Memo.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include "DocxReader.h"
#include "WriterFixture.h"

#include <QApplication>

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
    // The left ear's curve, as "Kurve abspeichern" saves it.
    const QString left = TForm1::CurvePicturePath(1);
    ASSERT_FALSE(left.isEmpty());
    TBitmap curve;
    curve.Assign(form.PaintBox1->RenderImage());
    curve.SetPixelFormat(pf24bit);
    ASSERT_TRUE(curve.SaveToFile(left));
    boxes.shown.clear();

    form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);

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

}  // namespace
}  // namespace velmora::test
