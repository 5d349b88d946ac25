// The PulseAudio sound output against a real server: the daemon that scripts/test starts (see
// tests/support/PulseTestServer.h), or a daemon of the test's own where the server must go away.

#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/PulseDaemon.h"
#include "tests/support/PulseServerTest.h"
#include "tests/support/ToneAnalysis.h"
#include "tests/support/WaveBuilder.h"

#include <gtest/gtest.h>

#include <thread>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Channel;
using test::FramesOf;

constexpr std::uint32_t kLoopFlags = SND_MEMORY | SND_ASYNC | SND_LOOP;

class PulseSoundOutputTest : public test::PulseServerTest {
protected:
    void SetUp() override {
        PulseServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        StartCapture();
    }
};

TEST_P(PulseSoundOutputTest, WaveOutVolumeSelectsTheEarOfAMonoSound) {
    const auto image = test::SineImage(1000.0, 960, 96000, 16, 1);
    struct Case {
        std::uint32_t volume;
        bool left;
        bool right;
    };
    for (const Case c : {Case{0x0000FFFFu, true, false}, Case{0xFFFF0000u, false, true},
                         Case{0xFFFFFFFFu, true, true}}) {
        // Set before the sound starts, as the tone generator does.
        ASSERT_EQ(sound_->SetVolume(0, c.volume), MMSYSERR_NOERROR);
        ASSERT_TRUE(sound_->PlaySound(image, kLoopFlags));
        const auto samples = Listen(100);
        const auto left = Channel(samples, 0);
        const auto right = Channel(samples, 1);
        SCOPED_TRACE(testing::Message() << std::hex << c.volume);
        EXPECT_NEAR(test::Peak(left), c.left ? 32767.0 : 0.0, Tolerance(32767.0));
        EXPECT_NEAR(test::Peak(right), c.right ? 32767.0 : 0.0, Tolerance(32767.0));
        std::uint32_t read = 0;
        ASSERT_EQ(sound_->GetVolume(0, &read), MMSYSERR_NOERROR);
        EXPECT_EQ(read, c.volume);
    }
}

TEST_P(PulseSoundOutputTest, VolumeFollowsTheServersCubicScaleAndChangesAPlayingSound) {
    const auto image = test::SineImage(1000.0, 960);
    ASSERT_EQ(sound_->SetVolume(0, 0xFFFFFFFFu), MMSYSERR_NOERROR);
    ASSERT_TRUE(sound_->PlaySound(image, kLoopFlags));
    // Peaks, not RMS: a frame lost on a busy machine or a capture of not quite whole periods
    // moves the RMS by a part in a thousand, but leaves the peak of a steady sine alone.
    const double full = test::Peak(Channel(Listen(100), 0));
    ASSERT_NEAR(full, 32767.0, Tolerance(32767.0));

    // 50 % on the left: a factor of 0.125 in amplitude.
    ASSERT_EQ(sound_->SetVolume(0, 0xFFFF7FFFu), MMSYSERR_NOERROR);
    const auto samples = Listen(100);
    const double half = std::pow(32767.0 / 65535.0, 3.0);
    EXPECT_NEAR(test::Peak(Channel(samples, 0)), full * half, Tolerance(full * half));
    EXPECT_NEAR(test::Peak(Channel(samples, 1)), full, Tolerance(full));
}

TEST_P(PulseSoundOutputTest, EightBitSoundAtTheLowRateIsPlayedAtItsFrequency) {
    // 441 Hz at 44.1 kHz: 100 frames a period, so 4400 frames are 44 whole periods; the server
    // converts the rate for the 96 kHz sink.
    const auto image = test::SineImage(441.0, 4400, 44100, 8, 1);
    ASSERT_TRUE(sound_->PlaySound(image, kLoopFlags));
    const auto x = Channel(Listen(300), 0);
    EXPECT_NEAR(test::Frequency(x, test::kSinkRate), 441.0, 0.441);
    EXPECT_GT(test::Peak(x), 30000.0);
}

TEST_P(PulseSoundOutputTest, NewSoundReplacesTheCurrentOne) {
    ASSERT_TRUE(sound_->PlaySound(test::SineImage(1000.0, 960), kLoopFlags));
    ASSERT_TRUE(sound_->PlaySound(test::SineImage(2000.0, 960), kLoopFlags));
    const auto x = Channel(Listen(200), 0);
    EXPECT_NEAR(test::Frequency(x, test::kSinkRate), 2000.0, 2.0);
    EXPECT_LT(test::LargestSineResidual(x, 2000.0, test::kSinkRate), 8.0)
        << "the first sound is mixed in";
}

TEST_P(PulseSoundOutputTest, StopEndsTheSoundAndReleasesTheImage) {
    auto image = test::SineImage(1000.0, 960);
    ASSERT_TRUE(sound_->PlaySound(image, kLoopFlags));
    ASSERT_GT(test::Peak(Channel(Listen(50), 0)), 30000.0);

    ASSERT_TRUE(sound_->PlaySound({}, 0));
    // Stop has returned: the image may go at once.
    image.assign(image.size(), 0xAB);
    image.clear();
    image.shrink_to_fit();
    EXPECT_FALSE(sound_->IsPlaying());
    std::this_thread::sleep_for(30ms);
    const auto samples = Listen(100);
    EXPECT_EQ(test::Peak(Channel(samples, 0)), 0.0);
    EXPECT_EQ(test::Peak(Channel(samples, 1)), 0.0);
}

TEST_P(PulseSoundOutputTest, SynchronousSoundIsPlayedCompletelyBeforeTheCallReturns) {
    // 200 ms, not looped, without SND_ASYNC.
    const auto image = test::SineImage(1000.0, 19200);
    std::vector<double> x;
    for (int attempt = 0; attempt < 5; ++attempt) {
        EXPECT_TRUE(capture_->Record(FramesOf(20), 2s));
        capture_->Clear();
        const std::uint64_t underflows = sound_->Underflows();
        ASSERT_TRUE(sound_->PlaySound(image, SND_MEMORY));
        EXPECT_FALSE(sound_->IsPlaying());
        EXPECT_TRUE(capture_->Record(FramesOf(60), 2s));
        x = Channel(capture_->Samples(), 0);
        if (sound_->Underflows() == underflows) {
            break;  // else the machine was too busy to keep the buffer filled: again
        }
    }
    const auto sounding = test::Sounding(x, 0.0);
    // Every frame reached the sink, and nothing after the end (PipeWire's resampling at 48 kHz
    // blurs each end by a fraction of a millisecond).
    EXPECT_NEAR(static_cast<double>(sounding.size()), 19200.0,
                Server() == test::SoundServer::PulseAudio ? 2.0 : 96.0);
    EXPECT_EQ(test::Peak(x.empty() ? x : std::span<const double>(x).last(FramesOf(20))), 0.0);
}

TEST_P(PulseSoundOutputTest, MalformedImagesAreRefused) {
    auto image = test::SineImage(1000.0, 960);
    auto tooLong = image;
    test::Put32(tooLong, 40, 3841);  // one byte more than there is
    EXPECT_FALSE(sound_->PlaySound(tooLong, kLoopFlags));
    auto threeChannels = image;
    test::Put16(threeChannels, 22, 3);
    EXPECT_FALSE(sound_->PlaySound(threeChannels, kLoopFlags));
    EXPECT_FALSE(sound_->PlaySound(std::span(image).first(40), kLoopFlags));
    EXPECT_FALSE(sound_->PlaySound(image, SND_ASYNC));  // not from memory
    EXPECT_FALSE(sound_->IsPlaying());
}

TEST_P(PulseSoundOutputTest, CapabilitiesNameTheServerAndOfferSeparateChannelVolumes) {
    WaveOutCaps caps;
    ASSERT_EQ(sound_->GetDevCaps(0, &caps), MMSYSERR_NOERROR);
    EXPECT_STRNE(caps.szPname, "");
    EXPECT_EQ(caps.wChannels, 2);
    EXPECT_NE(caps.dwSupport & WAVECAPS_LRVOLUME, 0u);
    EXPECT_EQ(sound_->GetDevCaps(1, &caps), MMSYSERR_BADDEVICEID);
    EXPECT_TRUE(sound_->IsAvailable());
}

TEST(PulseSoundOutputServerTest, NoServerIsADeviceThatIsNotThere) {
    PulseContext pulse("unix:/nonexistent/velmora/native");
    PulseSoundOutput sound(pulse);
    EXPECT_FALSE(sound.IsAvailable());
    EXPECT_FALSE(sound.PlaySound(test::SineImage(1000.0, 960), kLoopFlags));
    WaveOutCaps caps;
    EXPECT_EQ(sound.GetDevCaps(0, &caps), MMSYSERR_BADDEVICEID);
    // The held volume still holds for the next sound.
    EXPECT_EQ(sound.SetVolume(0, 0x1234FFFFu), MMSYSERR_NOERROR);
    std::uint32_t volume = 0;
    EXPECT_EQ(sound.GetVolume(0, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x1234FFFFu);
    EXPECT_TRUE(sound.PlaySound({}, 0));
}

class PulseSoundOutputServerTest : public test::OwnServerTest {};

TEST_P(PulseSoundOutputServerTest, HungServerHoldsNoCallLongerThanATimeout) {
    test::PulseDaemon daemon(GetParam());
    ASSERT_TRUE(daemon.Start()) << "the sound server could not be started";
    PulseContext pulse(daemon.Server());
    PulseSoundOutput sound(pulse);
    const auto image = test::SineImage(1000.0, 960);
    ASSERT_TRUE(sound.PlaySound(image, kLoopFlags));

    // The server stops answering (a hang would fail the test by its time limit).
    daemon.Freeze();
    EXPECT_FALSE(sound.PlaySound(image, kLoopFlags));
    EXPECT_FALSE(sound.IsAvailable());
    EXPECT_FALSE(sound.IsPlaying());
    EXPECT_EQ(sound.SetVolume(0, 0xFFFF0000u), MMSYSERR_NOERROR);
    EXPECT_TRUE(sound.PlaySound({}, 0));

    // It answers again: after the pause the next call connects anew and plays.
    daemon.Thaw();
    bool played = false;
    for (int i = 0; i < 40 && !played; ++i) {
        std::this_thread::sleep_for(100ms);
        played = sound.PlaySound(image, kLoopFlags);
    }
    EXPECT_TRUE(played);
    EXPECT_TRUE(sound.IsPlaying());
}

INSTANTIATE_TEST_SUITE_P(BothServers, PulseSoundOutputTest, test::kBothServers, test::ServerName);

INSTANTIATE_TEST_SUITE_P(BothServers, PulseSoundOutputServerTest, test::kBothServers,
                         test::ServerName);

}  // namespace
}  // namespace velmora
