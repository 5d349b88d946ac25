// The tone generator, the speaker volume controller and the mixer model on a real PulseAudio
// server: what reaches the null sink's monitor is captured and analysed. The daemon is the one
// that scripts/test starts (tests/support/PulseTestServer.h), or one of the test's own where the
// server must go away.

#include "audio/AMixer.h"
#include "audio/SSVolumeController.h"
#include "audio/ToneGen.h"
#include "platform/mixer/PulseMixerDevice.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/PulseDaemon.h"
#include "tests/support/PulseServerTest.h"
#include "tests/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Channel;
using test::FramesOf;

// The test console's tone: 10 ms of 16-bit stereo at 96 kHz, looping, both channels full.
void MakeTestConsoleTone(TToneGen& tone) {
    tone.SetStereo(true);
    tone.SetDuration(10);
    tone.SetLoop(true);
    tone.SetResolution(tg16Bit);
    tone.SetQuality(tgHiQ);
    tone.SetWaveform(tgSine);
}

class PulseEndToEndTest : public test::PulseServerTest {
protected:
    void SetUp() override {
        PulseServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        test::EnsureCoreApplication();
        mixer_ = std::make_unique<PulseMixerDevice>(*pulse_, *sound_);
        // The speakers at full volume, so that what is heard is the sound itself.
        speakers_ = std::make_unique<TssVolumeController>(nullptr, *mixer_);
        speakers_->SetVolume(100);
        StartCapture();
        if (HasFatalFailure()) {
            return;
        }
        tone_ = std::make_unique<TToneGen>(nullptr, *sound_);
        MakeTestConsoleTone(*tone_);
    }

    void TearDown() override {
        tone_.reset();
        speakers_.reset();
        if (!Address().empty()) {
            test::ResetTestSink(Server());
        }
    }

    std::unique_ptr<PulseMixerDevice> mixer_;
    std::unique_ptr<TssVolumeController> speakers_;
    std::unique_ptr<TToneGen> tone_;
};

TEST_P(PulseEndToEndTest, EachTestFrequencyIsHeardAtItsFrequency) {
    // The loop holds whole periods: 10 ms for 500 Hz and up; 10 ms would hold 1.25 periods of
    // 125 Hz and 2.5 of 250 Hz, and a loop of those repeats every 10 ms (100 Hz) instead.
    for (const auto& [frequency, duration] : {std::pair{125, 16},
                                              {250, 12},
                                              {500, 10},
                                              {1000, 10},
                                              {2000, 10},
                                              {4000, 10},
                                              {8000, 10}}) {
        tone_->Stop();
        tone_->SetFrequency(static_cast<std::int16_t>(frequency));
        tone_->SetDuration(static_cast<std::int16_t>(duration));
        tone_->Play();
        const auto samples = Listen(250);
        for (int channel = 0; channel < 2; ++channel) {
            const auto x = Channel(samples, channel);
            EXPECT_NEAR(test::Frequency(x, test::kSinkRate), frequency, frequency * 0.001)
                << frequency << " Hz, channel " << channel;
            EXPECT_NEAR(test::Peak(x), 32767.0, Tolerance(32767.0)) << frequency << " Hz";
        }
    }
}

TEST_P(PulseEndToEndTest, TheChosenEarSoundsAndTheOtherIsSilent) {
    tone_->SetFrequency(1000);
    struct Case {
        std::int16_t left;
        std::int16_t right;
    };
    for (const Case c : {Case{100, 0}, Case{0, 100}, Case{100, 100}}) {
        // As the test console does: stop, choose the ear, play.
        tone_->Stop();
        tone_->SetLeftVolume(c.left);
        tone_->SetRightVolume(c.right);
        tone_->Play();
        const auto samples = Listen(100);
        SCOPED_TRACE(testing::Message() << "left " << c.left << ", right " << c.right);
        EXPECT_NEAR(test::Peak(Channel(samples, 0)), c.left != 0 ? 32767.0 : 0.0,
                    Tolerance(32767.0));
        EXPECT_NEAR(test::Peak(Channel(samples, 1)), c.right != 0 ? 32767.0 : 0.0,
                    Tolerance(32767.0));
    }
}

TEST_P(PulseEndToEndTest, SpeakerVolumeAndMuteFollowTheServersCubicScale) {
    TssVolumeController speakers(nullptr, *mixer_);
    ASSERT_TRUE(speakers.HasVolumeControl());
    ASSERT_TRUE(speakers.HasMuteControl());
    tone_->SetFrequency(1000);
    speakers.SetVolume(100);
    tone_->Play();
    const double full = test::Rms(Channel(Listen(100), 0));
    ASSERT_GT(full, 20000.0);

    for (const int volume : {30, 70}) {
        speakers.SetVolume(volume);
        const auto samples = Listen(100);
        // The level sent is volume x 65535 / 100 of 100 %, and amplitude is its cube.
        const double expected = std::pow((volume * 65535 / 100) / 65535.0, 3.0);
        EXPECT_NEAR(test::Rms(Channel(samples, 0)) / full, expected, expected * 0.01)
            << "volume " << volume;
        EXPECT_NEAR(test::Rms(Channel(samples, 1)) / full, expected, expected * 0.01);
        EXPECT_EQ(speakers.Volume(), volume);
    }
    speakers.SetBalance(-100);  // right silent
    auto samples = Listen(100);
    EXPECT_GT(test::Peak(Channel(samples, 0)), 1000.0);
    EXPECT_EQ(test::Peak(Channel(samples, 1)), 0.0);
    speakers.SetBalance(0);

    speakers.SetMute(true);
    samples = Listen(100);
    EXPECT_EQ(test::Peak(Channel(samples, 0)), 0.0);
    EXPECT_EQ(test::Peak(Channel(samples, 1)), 0.0);
    speakers.SetMute(false);
    EXPECT_GT(test::Peak(Channel(Listen(100), 0)), 1000.0);
}

TEST_P(PulseEndToEndTest, LoopOfWholePeriodsJoinsWithoutADiscontinuity) {
    // 125 Hz is 768 frames a period: 40 ms are five whole periods.
    tone_->SetFrequency(125);
    tone_->SetDuration(40);
    tone_->Play();
    const auto samples = Listen(500);
    for (int channel = 0; channel < 2; ++channel) {
        const auto x = Channel(samples, channel);
        // A dropped or repeated frame at a seam leaves a residual of about 270.
        EXPECT_LT(test::LargestSineResidual(x, 125.0, test::kSinkRate), 8.0);
        EXPECT_NEAR(test::Frequency(x, test::kSinkRate), 125.0, 0.125);
    }
}

TEST_P(PulseEndToEndTest, StartUpLevelOnTheMixersFirstConnectionIsUndoneByTheNextPlay) {
    // The window's start-up: the mixer model sets destination 0, connection 0 (this program's
    // wave line) to the raw level 100 and unmutes it; then the tone generator plays.
    TAudioMixer audio(nullptr, *mixer_);
    ASSERT_EQ(audio.MixerId(), 0);
    EXPECT_TRUE(audio.SetLineVolume(0, 0, 100, 100, 0));
    std::uint32_t volume = 0;
    ASSERT_EQ(sound_->GetVolume(0, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 100u | (100u << 16));
    tone_->SetFrequency(1000);
    tone_->Play();
    EXPECT_NEAR(test::Peak(Channel(Listen(100), 0)), 32767.0, Tolerance(32767.0));
}

class PulseEndToEndServerTest : public test::OwnServerTest {};

TEST_P(PulseEndToEndServerTest, DaemonStoppedAndRestartedWhileATonePlays) {
    test::EnsureCoreApplication();
    test::PulseDaemon daemon(GetParam());
    ASSERT_TRUE(daemon.Start()) << "the sound server could not be started";
    PulseContext pulse(daemon.Server());
    PulseSoundOutput sound(pulse);
    PulseMixerDevice mixer(pulse, sound);
    TssVolumeController speakers(nullptr, mixer);
    TToneGen tone(nullptr, sound);
    MakeTestConsoleTone(tone);
    tone.SetFrequency(1000);
    speakers.SetVolume(100);
    tone.Play();
    ASSERT_TRUE(sound.IsPlaying());

    daemon.Stop();
    // Nothing crashes or hangs while the server is away.
    tone.Stop();
    tone.Play();
    speakers.SetVolume(50);
    EXPECT_FALSE(sound.IsPlaying());
    EXPECT_FALSE(sound.IsAvailable());

    ASSERT_TRUE(daemon.Start());
    tone.Stop();
    tone.SetRightVolume(0);
    tone.Play();
    ASSERT_TRUE(sound.IsPlaying());
    speakers.SetVolume(100);
    PulseCapture capture(pulse);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.Record(FramesOf(60), 2s));
    capture.Clear();
    ASSERT_TRUE(capture.Record(FramesOf(100), 2s));
    const auto samples = capture.Samples();
    EXPECT_NEAR(test::Peak(Channel(samples, 0)), 32767.0,
                test::AmplitudeTolerance(GetParam(), 32767.0));
    EXPECT_EQ(test::Peak(Channel(samples, 1)), 0.0);
    QCoreApplication::processEvents();
}

INSTANTIATE_TEST_SUITE_P(BothServers, PulseEndToEndTest, test::kBothServers, test::ServerName);

INSTANTIATE_TEST_SUITE_P(BothServers, PulseEndToEndServerTest, test::kBothServers,
                         test::ServerName);

}  // namespace
}  // namespace velmora
