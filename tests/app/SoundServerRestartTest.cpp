// The test console on a sound server of the test's own that is stopped and started again while
// the tone loops, on PulseAudio and on PipeWire (where pipewire-pulse is restarted, as a desktop
// does it): the tone comes back by itself, in the same ear and at the level the gauge shows, and
// the operator is warned while it is gone, with never more than one warning.
#include "tests/app/ConsoleOnServer.h"

#include <functional>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::Heard;
using test::kThreshold;

class SoundServerRestart : public test::ConsoleOnServer {};

TEST_P(SoundServerRestart, TheToneComesBackInTheSameEarAtTheSameLevelWithOneWarningAtATime) {
    form_->RadioButton1->SetChecked(true);  // "Links"
    SetLevel(2);
    const Heard before = ListenToTone(300ms, 1000.0);
    ASSERT_GT(before.Peak(0), kThreshold);
    EXPECT_TRUE(before.IsToneOf(0, 1000.0));

    for (int outage = 1; outage <= 3; ++outage) {
        SCOPED_TRACE(testing::Message() << "outage " << outage);
        Restart();
        const Heard after = Listen(300ms, true);
        ASSERT_TRUE(after.firstSound.has_value()) << "no tone came back";
        EXPECT_LT(*after.firstSound, 2s);
        EXPECT_TRUE(after.IsToneOf(0, 1000.0));
        EXPECT_NEAR(after.Rms(0), before.Rms(0), before.Rms(0) * 0.06);
        EXPECT_EQ(after.Peak(1), 0.0);  // the right ear stays silent
        // Warned once while the tone was gone, and the warning went with the outage.
        EXPECT_EQ(notices_.size(), std::size_t(outage));
        EXPECT_EQ(standing_, 0);
        EXPECT_FALSE(form_->NoSoundNotice().IsShown());
    }
    EXPECT_EQ(mostStanding_, 1);
    EXPECT_TRUE(boxes_.empty());
    ASSERT_FALSE(notices_.empty());
    EXPECT_EQ(notices_[0], QStringLiteral("Es wurde keine Tonausgabe gefunden.\nDer Testton kann "
                                          "nicht wiedergegeben werden."));
}

TEST_P(SoundServerRestart, AServerBackAtFullVolumeNeverPlaysLouderThanTheLevelSet) {
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

TEST_P(SoundServerRestart, MutedBeforeTheRestartStaysSilentUntilUnmuted) {
    SetLevel(3);
    form_->HemisphereButton1Click(nullptr);
    Restart();
    EXPECT_EQ(Listen(1500ms).Peak(0), 0.0);
    form_->HemisphereButton1Click(nullptr);
    const Heard unmuted = Listen(300ms, true);
    EXPECT_TRUE(unmuted.firstSound.has_value()) << "the tone was not there behind the mute";
}

// What the operator does while the server is away is what the server gets when it comes back, at
// 100 %, before the tone's first frame: at level 9, "Stumm" is silence, the bar moved to 2 is
// level 2, "Zurücksetzen" is silence.
TEST_P(SoundServerRestart, LevelsSetWhileTheServerIsAwayAreWhatTheReturningServerGets) {
    enum Act { kMute, kLevelTwo, kReset };
    const struct {
        Act act;
        int level;  // what is heard afterwards; 0 is silence
    } cases[] = {{kMute, 0}, {kLevelTwo, 2}, {kReset, 0}};
    for (const auto& step : cases) {
        SCOPED_TRACE(step.act == kMute ? "Stumm" : step.act == kLevelTwo ? "level 2" : "reset");
        form_->janColorButton5click(nullptr);
        SetLevel(9);
        ASSERT_GT(Listen(200ms).Peak(0), test::LevelAmplitude(8)) << "no tone at level 9";
        daemon_->Stop();
        Run(700ms);  // the tone is found lost, the warning stands
        if (step.act == kMute) {
            form_->HemisphereButton1Click(nullptr);
        } else if (step.act == kLevelTwo) {
            form_->ExTrackBar1->SetPosition(2);
        } else {
            form_->janColorButton5click(nullptr);
        }
        Run(100ms);
        ASSERT_TRUE(daemon_->Start());
        const Heard back = Listen(1500ms);
        const double shown = step.level > 0 ? test::LevelAmplitude(step.level) : 0.0;
        for (int channel = 0; channel < 2; ++channel) {
            EXPECT_LE(back.Peak(channel), shown * 1.122 + (shown > 0 ? 2.0 : 0.0))
                << "louder than the gauge shows, channel " << channel;
        }
        if (step.level > 0) {
            const Heard tone = ListenToTone(300ms, 1000.0);
            EXPECT_NEAR(tone.Level(0), shown, test::AmplitudeTolerance(Server(), shown));
        }
        EXPECT_FALSE(form_->NoSoundNotice().IsShown());
    }
}

TEST_P(SoundServerRestart, AFrozenServerHoldsTheWindowOnlyAMomentAndTheToneReturnsWhenItThaws) {
    SetLevel(2);
    ASSERT_GT(Listen(300ms).Peak(0), kThreshold);

    // The server stops answering (SIGSTOP) while the tone loops: every change the operator makes
    // meanwhile returns after a request's timeout at most, and the window goes on painting.
    daemon_->Freeze();
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
    daemon_->Thaw();

    // With the server back, the next stimulus plays: 4000 Hz square in the right ear.
    SetLevel(2);
    const Heard after = Listen(300ms, true);
    ASSERT_TRUE(after.firstSound.has_value()) << "no tone after the server thawed";
    EXPECT_LT(*after.firstSound, 3s);
    EXPECT_NEAR(after.Frequency(1), 4000.0, 4.0);
    // A square wave's crest factor is 1 (a sine's 1.41); at 48 kHz PipeWire drops the harmonics
    // above 24 kHz, and the edges ring.
    EXPECT_LT(after.Peak(1) / after.Rms(1), Server() == test::SoundServer::PulseAudio ? 1.1 : 1.3)
        << "a square wave";
    EXPECT_EQ(after.Peak(0), 0.0) << "the left ear stays silent";
}

INSTANTIATE_TEST_SUITE_P(BothServers, SoundServerRestart, test::kBothServers, test::ServerName);

}  // namespace
}  // namespace velmora
