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

TEST_P(SoundServerRestart, TheToneWaitsUntilTheSpeakerLevelsAreBackOnTheServer) {
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
    EXPECT_TRUE(after.IsToneOf(0, 1000.0));
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
