// The real program on a headless X display (Xvfb) with the test sound server of scripts/test:
// a typical test step as an operator makes it, with the mouse and the keyboard, checked through
// what the screen shows and what reaches the null sink's monitor.

#include "ConsoleWindow.h"

#include "tests/support/PulseDaemon.h"

#include <cmath>

namespace velmora {
namespace {

using test::kScreenHeight;
using test::kScreenWidth;
using namespace std::chrono_literals;

constexpr int kClientWidth = 873;
constexpr int kClientHeight = 569;

// Places in the window's client area, from the layout: the main panel DsGroup1 at (8, 128).
using test::kPlot;
// The indicator of "2000 Hz" (RadioButton8 at (100, 40) in DsGroup5 at (100, 20) in DsGroup3 at
// (276, 20)).
constexpr QPoint k2000Hz{8 + 276 + 100 + 100 + 7, 128 + 20 + 20 + 40 + 8};
// The thumb of the coarse level bar at 0 (ExTrackBar1 at (8, 20) in DsGroup7 at (12, 120) in
// DsGroup3): at the left end, near the top edge.
constexpr QPoint kCoarseThumb{8 + 276 + 12 + 8 + 7, 128 + 20 + 120 + 20 + 9};
// The middle of the round "Wert übernehmen" button (HemisphereButton2, 41 x 41 at (8, 20) in
// DsGroup11 at (400, 236)).
constexpr QPoint kTakeOver{8 + 400 + 8 + 20, 128 + 236 + 20 + 20};
// The middle of "Beenden" (janColorButton4, 99 x 24 at (12, 368) in DsGroup9 at (728, 20)).
constexpr QPoint kQuit{8 + 728 + 12 + 49, 128 + 20 + 368 + 12};

constexpr QRgb kPlotBackground = qRgb(160, 233, 91);
constexpr QRgb kPlotGrid = qRgb(0, 87, 0);
constexpr QRgb kBothEarsCurve = qRgb(95, 95, 95);

// A marker's box in the plot at the plot value T: four pixels from its left edge, rows T..T+4.
constexpr int k1000HzMarker = 170;
constexpr int k2000HzMarker = 214;
QRect MarkerAt(int left, int t) {
    return QRect(QPoint(left, t), QPoint(left + 4, t + 4));
}

class ConsoleEndToEndTest : public test::ConsoleWindowTest {};

TEST_P(ConsoleEndToEndTest, TypicalTestStepIsSeenAndHeard) {
    // The window: its fixed size, centred on the screen.
    EXPECT_EQ(size_, QPoint(kClientWidth, kClientHeight));
    EXPECT_NEAR(origin_.x(), (kScreenWidth - kClientWidth) / 2, 1);
    EXPECT_NEAR(origin_.y(), (kScreenHeight - kClientHeight) / 2, 1);

    // The hearing curve once the window has painted: the plot's green behind a grid every 43
    // pixels across and every 14 down, and the flat curve of no thresholds along the top.
    QImage screen = ScreenWhen([&](const QImage& s) { return Plot(s, 20, 7) == kPlotBackground; });
    ASSERT_FALSE(screen.isNull());
    for (const auto& [x, y] : {std::pair{20, 7}, {64, 50}, {150, 100}, {320, 110}}) {
        EXPECT_EQ(Plot(screen, x, y), kPlotBackground) << "plot background at " << x << ", " << y;
    }
    for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(Plot(screen, 43 * i, 60), kPlotGrid) << "vertical grid line " << i;
    }
    for (int j = 1; j <= 8; ++j) {
        EXPECT_EQ(Plot(screen, 20, 14 * j), kPlotGrid) << "horizontal grid line " << j;
    }
    EXPECT_GT(CountInPlot(screen, MarkerAt(k2000HzMarker, 0), kBothEarsCurve), 0);
    EXPECT_EQ(CountInPlot(screen, MarkerAt(k2000HzMarker, 36), kBothEarsCurve), 0);

    // The tone loops from the start, at level 0: nothing is heard.
    auto samples = Listen(100);
    EXPECT_EQ(test::Peak(test::Channel(samples, 0)), 0.0);
    EXPECT_EQ(test::Peak(test::Channel(samples, 1)), 0.0);

    // "2000 Hz", then the coarse bar to 3: the thumb takes the focus, the keys move it.
    Click(k2000Hz);
    Click(kCoarseThumb);
    EXPECT_EQ(
        display_.Xdotool({"key", "--delay", "50", "Home", "Right", "Right", "Right"}).exitCode, 0);
    // The level applies as the speaker volume, 30 % for level 3, on the server's cubic scale.
    // The keys reach the program one by one: listen until the level stands.
    const double expected = 32767.0 * std::pow((30 * 65535 / 100) / 65535.0, 3.0);
    for (int i = 0; i < 50 && test::Peak(test::Channel(samples, 0)) < expected * 0.9; ++i) {
        samples = Listen(100);
    }
    samples = Listen(200, 2000.0);
    for (int channel = 0; channel < 2; ++channel) {
        const auto x = test::Channel(samples, channel);
        EXPECT_NEAR(test::Frequency(x, test::kSinkRate), 2000.0, 2.0) << "channel " << channel;
        EXPECT_NEAR(test::Peak(x), expected, expected * 0.02) << "channel " << channel;
    }
    EXPECT_NEAR(test::Rms(test::Channel(samples, 0)), test::Rms(test::Channel(samples, 1)), 1.0)
        << "both ears at the same level";

    // "Wert übernehmen": the 2000 Hz marker moves from the top down to the plot value of level
    // 3 (36), and the curve runs down to it and back up.
    Click(kTakeOver);
    screen = ScreenWhen([&](const QImage& s) {
        return CountInPlot(s, MarkerAt(k2000HzMarker, 36), kBothEarsCurve) > 0;
    });
    EXPECT_GE(CountInPlot(screen, MarkerAt(k2000HzMarker, 36), kBothEarsCurve), 4);
    EXPECT_EQ(CountInPlot(screen, QRect(QPoint(212, 0), QPoint(220, 6)), kBothEarsCurve), 0)
        << "no marker left at the top for 2000 Hz";
    EXPECT_GT(CountInPlot(screen, MarkerAt(k1000HzMarker, 0), kBothEarsCurve), 0)
        << "1000 Hz stays at the top";
    EXPECT_EQ(Plot(screen, 20, 7), kPlotBackground);

    // "Beenden" ends the program.
    Click(kQuit);
    const auto code = test::WaitForExit(app_, 20s);
    ASSERT_TRUE(code.has_value()) << "velmora still runs after \"Beenden\"";
    app_ = -1;
    EXPECT_EQ(*code, 0);
}

INSTANTIATE_TEST_SUITE_P(BothServers, ConsoleEndToEndTest, test::kBothServers, test::ServerName);

// The program on a server of the test's own, which goes away and comes back while the tone loops.
class ConsoleRestartTest : public test::ConsoleWindowTest {
protected:
    void SetUp() override {
        VELMORA_REQUIRE_PULSE_SERVER_OF(Server());
        daemon_ = std::make_unique<test::PulseDaemon>(Server());
        ASSERT_TRUE(daemon_->Start()) << "the sound server could not be started";
        ConsoleWindowTest::SetUp();
    }
    void TearDown() override {
        ConsoleWindowTest::TearDown();
        daemon_.reset();
    }
    std::string ServerAddress() const override { return daemon_->Server(); }

    // Waits (at most `limit`) until `done` holds; whether it did.
    static bool Within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
        for (auto end = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(50ms)) {
            if (done()) {
                return true;
            }
        }
        return done();
    }

    std::unique_ptr<test::PulseDaemon> daemon_;
};

// Three outages in a row: a warning while the sound is gone, never more than one, none once the
// tone is back; and then the operator's keys reach the level bar, not a box.
TEST_P(ConsoleRestartTest, AfterThreeRestartsNoWarningIsLeftAndTheLevelBarTakesTheKeys) {
    for (int outage = 1; outage <= 3; ++outage) {
        SCOPED_TRACE(testing::Message() << "outage " << outage);
        daemon_->Stop();
        EXPECT_TRUE(Within(3000ms, [&] { return CountWindows("Achtung") == 1; }))
            << "no warning while the sound was gone";
        std::this_thread::sleep_for(700ms);
        EXPECT_LE(CountWindows("Achtung"), 1) << "warnings stacked";
        ASSERT_TRUE(daemon_->Start());
        EXPECT_TRUE(Within(5000ms, [&] { return CountWindows("Achtung") == 0; }))
            << "a warning stayed after the sound was back";
    }
    ASSERT_TRUE(Reconnect());
    Click(kCoarseThumb);
    EXPECT_EQ(
        display_.Xdotool({"key", "--delay", "50", "Home", "Right", "Right", "Right"}).exitCode, 0);
    const double expected = 32767.0 * std::pow((30 * 65535 / 100) / 65535.0, 3.0);
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 30 && test::Peak(test::Channel(samples, 0)) < expected * 0.9; ++i) {
        samples = Listen(100);
    }
    EXPECT_NEAR(test::Peak(test::Channel(samples, 0)), expected,
                test::AmplitudeTolerance(Server(), expected))
        << "the keys did not reach the level bar";
}

INSTANTIATE_TEST_SUITE_P(BothServers, ConsoleRestartTest, test::kBothServers, test::ServerName);

}  // namespace
}  // namespace velmora
