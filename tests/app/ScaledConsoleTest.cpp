// The test console on a desktop with two screens, one at 100 % and one at 200 %: drawn at each
// screen's own resolution as the window moves between them, the classic window again at 100 %,
// and the curve pictures it keeps for the report the same on either screen.
#include "app/Unit1.h"

#include "controls/Credits.h"
#include "controls/ExTrackBar.h"
#include "controls/Hemibtn.h"
#include "controls/janColorButton.h"
#include "framework/Bitmap.h"
#include "framework/Dialogs.h"
#include "framework/GraphicControl.h"
#include "framework/MessageBox.h"
#include "framework/RadioButton.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include "tests/support/ScaledPictures.h"

#include <QApplication>
#include <QFile>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

namespace velmora {
namespace {

class ScaledConsole : public ::testing::Test {
protected:
    // Qt's offscreen platform with two screens side by side, the second at ratio 2.
    static void SetUpTestSuite() {
        if (QApplication::instance() != nullptr) {
            return;  // another test made the application first: SetUp skips
        }
        config_ = new QTemporaryDir;
        const QString path = config_->filePath(QStringLiteral("screens.json"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"screens": [
            {"name": "one", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96,
             "logicalBaseDpi": 96, "dpr": 1},
            {"name": "two", "x": 1280, "y": 0, "width": 2560, "height": 1600, "logicalDpi": 96,
             "logicalBaseDpi": 96, "dpr": 2}]})");
        file.close();
        platform_ = (QStringLiteral("offscreen:configfile=") + path).toLocal8Bit();
        argv_[2] = platform_.data();
        app_ = new QApplication(argc_, argv_);
        // A caret that does not blink: the window's pictures can be compared.
        QApplication::setCursorFlashTime(0);
        ASSERT_EQ(QGuiApplication::screens().size(), 2);
    }
    static void TearDownTestSuite() {
        delete app_;  // null when another test made the application
        app_ = nullptr;
        delete config_;
        config_ = nullptr;
    }

    void SetUp() override {
        if (app_ == nullptr) {
            GTEST_SKIP() << "needs its own application with two screens: a process of its own, "
                            "as ctest runs each test";
        }
        ASSERT_TRUE(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        previousBox_ = SetMessageBoxPresenter([](const MessageBoxRequest&) { return int(IDOK); });
        previousDialog_ = TSaveDialog::SetPresenter([](TSaveDialog&) { return false; });
        form_ = std::make_unique<TForm1>(nullptr, sound_, mixer_);
        form_->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        form_.reset();
        SetMessageBoxPresenter(previousBox_);
        TSaveDialog::SetPresenter(previousDialog_);
    }

    void MoveTo(int screen) {
        QScreen* target = QGuiApplication::screens().at(screen);
        form_->windowHandle()->setScreen(target);
        form_->move(target->geometry().topLeft() + QPoint(20, 20));
        QApplication::processEvents();
    }
    // The curve as kept for the report: the bytes of the picture file.
    QByteArray KeptCurve() {
        form_->janColorButton1->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        form_->janColorButton1->DispatchMouseUp(mbLeft, 0, 5, 5);
        QFile file(form_->PicturePaths[0]);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir runtime_;
    SimulatedSoundOutput sound_;
    SimulatedMixerDevice mixer_;
    std::unique_ptr<TForm1> form_;

private:
    inline static QTemporaryDir* config_ = nullptr;
    inline static QApplication* app_ = nullptr;
    inline static QByteArray platform_;
    inline static int argc_ = 3;
    inline static char arg0_[] = "velmora-test";
    inline static char arg1_[] = "-platform";
    inline static char* argv_[] = {arg0_, arg1_, nullptr, nullptr};
    MessageBoxPresenter previousBox_;
    TSaveDialog::Presenter previousDialog_;
};

TEST_F(ScaledConsole, FollowsTheScreensRatioAndKeepsTheCurvePicturesClassic) {
    TForm1& f = *form_;
    // The credits stand still, so that the window's pictures can be compared.
    f.ScrollingCredits1->SetAnimate(false);
    f.RadioButton6->SetChecked(true);  // 500 Hz
    f.ExTrackBar1->SetPosition(6);
    f.ExTrackBar2->SetPosition(5);
    f.HemisphereButton2->DispatchMouseDown(mbLeft, ssLeft, 20, 20);
    f.HemisphereButton2->DispatchMouseUp(mbLeft, 0, 20, 20);
    ASSERT_GT(f.Thresholds[2], 0);

    ASSERT_EQ(f.PixelRatio(), 1.0);
    const QImage window = f.grab().toImage();
    const QImage plot = f.PaintBox1->grab().toImage();
    const QByteArray curve = KeptCurve();
    ASSERT_FALSE(curve.isEmpty());

    MoveTo(1);
    ASSERT_EQ(f.PixelRatio(), 2.0);
    // Qt's own widgets draw the control's font antialiased here, as the drawn controls do.
    EXPECT_TRUE(f.RadioButton6->Button()->font().styleStrategy() & QFont::PreferAntialias);
    const QImage scaled = f.grab().toImage();
    EXPECT_EQ(scaled.size(), window.size() * 2);
    // The whole window at the screen's resolution, the curve's plot too: not enlarged.
    EXPECT_GT(test::MixedEdgeBlocks(window, scaled), 0.05);
    EXPECT_GT(test::MixedEdgeBlocks(plot, f.PaintBox1->grab().toImage()), 0.05);
    // The curve kept for the report is the classic picture.
    TBitmap kept;
    const QByteArray scaledCurve = KeptCurve();
    ASSERT_TRUE(kept.LoadFromBytes(scaledCurve));
    EXPECT_EQ(kept.Image().size(), QSize(340, 140));
    EXPECT_EQ(scaledCurve, curve);

    MoveTo(0);
    ASSERT_EQ(f.PixelRatio(), 1.0);
    EXPECT_TRUE(f.RadioButton6->Button()->font().styleStrategy() & QFont::NoAntialias);
    EXPECT_EQ(f.grab().toImage(), window);
}

}  // namespace
}  // namespace velmora
