// The test console on a sound server of the test's own that is stopped and started again while
// the tone loops: the tone comes back by itself, in the same ear and at the level the gauge shows,
// and the operator is told once per outage.
#include "app/Unit1.h"

#include "controls/ExTrackBar.h"
#include "framework/MessageBox.h"
#include "framework/RadioButton.h"
#include "platform/mixer/PulseMixerDevice.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/GuiTest.h"
#include "tests/support/PulseDaemon.h"
#include "tests/support/PulseTestServer.h"
#include "tests/support/ToneAnalysis.h"

#include <QApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kRate = 96000.0;
constexpr int kThreshold = 64;  // above the rounding noise of a silent sink

// What the sink's monitor carried.
struct Heard {
    std::vector<std::int16_t> samples;          // interleaved left, right
    std::optional<Clock::duration> firstSound;  // after the start of the recording
    double Rms(int channel) const { return test::Rms(test::Channel(samples, channel)); }
    double Peak(int channel) const { return test::Peak(test::Channel(samples, channel)); }
    double Frequency(int channel) const {
        return test::Frequency(test::Channel(samples, channel), kRate);
    }
};

class SoundServerRestart : public GuiTest {
protected:
    void SetUp() override {
        VELMORA_REQUIRE_PULSE_SERVER();
        ASSERT_TRUE(daemon_.Start()) << "pulseaudio could not be started";
        pulse_ = std::make_unique<PulseContext>(daemon_.Server());
        sound_ = std::make_unique<PulseSoundOutput>(*pulse_);
        mixer_ = std::make_unique<PulseMixerDevice>(*pulse_, *sound_);
        previous_ = SetMessageBoxPresenter([this](const MessageBoxRequest& request) {
            boxes_.push_back(request.text);
            return int(IDOK);
        });
        form_ = std::make_unique<TForm1>(nullptr, *sound_, *mixer_);
    }

    void TearDown() override {
        form_.reset();
        mixer_.reset();
        sound_.reset();
        pulse_.reset();
        SetMessageBoxPresenter(previous_);
    }

    // Records the monitor for `length`, keeping the window's event loop running meanwhile;
    // with `untilSound`, stops `length` after the first sound instead (or after 3 s of none).
    Heard Listen(Clock::duration length, bool untilSound = false) {
        PulseContext listener(daemon_.Server());
        PulseCapture capture(listener);
        Heard heard;
        if (!capture.Start()) {
            ADD_FAILURE() << "no capture of the test sink's monitor";
            return heard;
        }
        const auto start = Clock::now();
        auto end = start + (untilSound ? 3s : length);
        while (Clock::now() < end) {
            QApplication::processEvents();
            capture.Record(std::size_t(kRate / 100), 50ms);
            if (untilSound && !heard.firstSound) {
                if (const auto first = capture.FirstSoundTime(kThreshold)) {
                    heard.firstSound = *first - start;
                    capture.Clear();  // from the first fragment with sound on
                    end = Clock::now() + length;
                }
            }
        }
        heard.samples = capture.Samples();
        return heard;
    }

    void Restart(Clock::duration away = 300ms) {
        daemon_.Stop();
        const auto end = Clock::now() + away;
        while (Clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        ASSERT_TRUE(daemon_.Start());
    }

    void SetLevel(int coarse) { form_->ExTrackBar1->SetPosition(coarse); }

    test::PulseDaemon daemon_;
    std::unique_ptr<PulseContext> pulse_;
    std::unique_ptr<PulseSoundOutput> sound_;
    std::unique_ptr<PulseMixerDevice> mixer_;
    std::unique_ptr<TForm1> form_;
    std::vector<QString> boxes_;
    MessageBoxPresenter previous_;
};

TEST_F(SoundServerRestart, TheToneComesBackInTheSameEarAtTheSameLevelAndTheOperatorIsToldOnce) {
    form_->RadioButton1->SetChecked(true);  // "Links"
    SetLevel(2);
    const Heard before = Listen(300ms);
    ASSERT_GT(before.Peak(0), kThreshold);
    EXPECT_NEAR(before.Frequency(0), 1000.0, 1.0);

    for (int outage = 1; outage <= 2; ++outage) {
        Restart();
        const Heard after = Listen(300ms, true);
        ASSERT_TRUE(after.firstSound.has_value()) << "outage " << outage << ": no tone came back";
        EXPECT_LT(*after.firstSound, 2s) << "outage " << outage;
        EXPECT_NEAR(after.Frequency(0), 1000.0, 1.0) << "outage " << outage;
        EXPECT_NEAR(after.Rms(0), before.Rms(0), before.Rms(0) * 0.06) << "outage " << outage;
        EXPECT_EQ(after.Peak(1), 0.0) << "outage " << outage;  // the right ear stays silent
        EXPECT_EQ(boxes_.size(), std::size_t(outage));
    }
    ASSERT_FALSE(boxes_.empty());
    EXPECT_EQ(boxes_[0], QStringLiteral("Es wurde keine Tonausgabe gefunden.\nDer Testton kann "
                                        "nicht wiedergegeben werden."));
}

TEST_F(SoundServerRestart, AServerBackAtFullVolumeNeverPlaysLouderThanTheLevelSet) {
    SetLevel(2);
    const Heard before = Listen(300ms);
    ASSERT_GT(before.Peak(0), kThreshold);
    // The new server's sink starts at 100 %; the program's 20 % must be in place before its
    // first frame.
    Restart();
    const Heard after = Listen(1500ms);
    ASSERT_GT(after.Peak(0), kThreshold) << "the tone did not come back";
    EXPECT_LE(after.Peak(0), before.Peak(0) * 1.02 + 2);
    EXPECT_LE(after.Peak(1), before.Peak(1) * 1.02 + 2);
}

TEST_F(SoundServerRestart, MutedBeforeTheRestartStaysSilentUntilUnmuted) {
    SetLevel(3);
    form_->HemisphereButton1Click(nullptr);
    Restart();
    EXPECT_EQ(Listen(1500ms).Peak(0), 0.0);
    form_->HemisphereButton1Click(nullptr);
    const Heard unmuted = Listen(300ms, true);
    EXPECT_TRUE(unmuted.firstSound.has_value()) << "the tone was not there behind the mute";
}

TEST_F(SoundServerRestart, TheToneWaitsUntilTheSpeakerLevelsAreBackOnTheServer) {
    SetLevel(2);
    ASSERT_GT(Listen(300ms).Peak(0), kThreshold);
    // A server that has not yet taken the speaker levels (as right after its start): the tone
    // stays off, however often the output tries, until the levels are in place.
    int tries = 0;
    bool levelsTaken = false;
    sound_->SetSpeakerHandler([&]() -> std::optional<std::string> {
        ++tries;
        return levelsTaken ? std::optional<std::string>("testsink") : std::nullopt;
    });
    Restart();
    EXPECT_EQ(Listen(1500ms).Peak(0), 0.0) << "the tone came back before its levels";
    EXPECT_GE(tries, 2);
    levelsTaken = true;
    const Heard after = Listen(300ms, true);
    ASSERT_TRUE(after.firstSound.has_value()) << "no tone once the levels were taken";
    EXPECT_NEAR(after.Frequency(0), 1000.0, 1.0);
}

TEST_F(SoundServerRestart, AFrozenServerHoldsTheWindowOnlyAMomentAndTheToneReturnsWhenItThaws) {
    SetLevel(2);
    ASSERT_GT(Listen(300ms).Peak(0), kThreshold);

    // The server stops answering (SIGSTOP) while the tone loops: every change the operator makes
    // meanwhile returns after a request's timeout at most, and the window goes on painting.
    daemon_.Freeze();
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"2000 Hz", [&] { form_->RadioButton8->SetChecked(true); }},
        {"level 3", [&] { SetLevel(3); }},
        {"right ear", [&] { form_->RadioButton2->SetChecked(true); }},
        {"square", [&] { form_->RadioButton13->SetChecked(true); }},
        {"mute and unmute",
         [&] {
             form_->HemisphereButton1Click(nullptr);
             form_->HemisphereButton1Click(nullptr);
         }},
        {"4000 Hz", [&] { form_->RadioButton9->SetChecked(true); }},
    };
    for (const auto& [name, change] : changes) {
        const auto start = Clock::now();
        change();
        QApplication::processEvents();
        EXPECT_LT(Clock::now() - start, 2s) << name << " held the window";
    }
    daemon_.Thaw();

    // With the server back, the next stimulus plays: 4000 Hz square in the right ear.
    SetLevel(2);
    const Heard after = Listen(300ms, true);
    ASSERT_TRUE(after.firstSound.has_value()) << "no tone after the server thawed";
    EXPECT_LT(*after.firstSound, 3s);
    EXPECT_NEAR(after.Frequency(1), 4000.0, 4.0);
    EXPECT_NEAR(after.Peak(1) / after.Rms(1), 1.0, 0.1) << "a square wave";
    EXPECT_EQ(after.Peak(0), 0.0) << "the left ear stays silent";
}

}  // namespace
}  // namespace velmora
