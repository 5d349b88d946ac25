#include "platform/sound/SimulatedSoundOutput.h"

#include <gtest/gtest.h>

#include <array>

namespace velmora {
namespace {

using Kind = SimulatedSoundOutput::CallKind;

TEST(SimulatedSoundOutputTest, RecordsPlaybackWithFlagsAndBytesAndStops) {
    SimulatedSoundOutput out;
    std::array<std::uint8_t, 4> image{1, 2, 3, 4};

    out.PlaySound(image, SND_MEMORY | SND_ASYNC | SND_LOOP);
    image[0] = 9;  // the recorder keeps its own copy
    EXPECT_TRUE(out.IsLooping());

    out.PlaySound({}, 0);
    EXPECT_FALSE(out.IsPlaying());

    auto plays = out.CallsOf(Kind::PlaySound);
    ASSERT_EQ(plays.size(), 2u);
    EXPECT_EQ(plays[0].flags, 13u);
    EXPECT_EQ(plays[0].image, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(plays[1].image.empty());
}

TEST(SimulatedSoundOutputTest, SynchronousSoundHasEndedWhenTheCallReturns) {
    SimulatedSoundOutput out;
    std::array<std::uint8_t, 1> image{0};
    out.PlaySound(image, SND_MEMORY);
    EXPECT_FALSE(out.IsPlaying());
}

TEST(SimulatedSoundOutputTest, DeviceWithoutSeparateChannelsKeepsOnlyTheLowWord) {
    SimulatedSoundOutput out;
    out.SetSeparateChannelVolume(false);
    out.SetVolume(0, 0xABCD1234u);
    EXPECT_EQ(out.DeviceVolume(), 0x1234u);

    WaveOutCaps caps;
    ASSERT_EQ(out.GetDevCaps(0, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.dwSupport & WAVECAPS_LRVOLUME, 0u);
}

TEST(SimulatedSoundOutputTest, MissingDeviceLeavesTheCallersValueAlone) {
    SimulatedSoundOutput out;
    out.SetAvailable(false);
    std::uint32_t volume = 77;
    EXPECT_EQ(out.GetVolume(0, &volume), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(volume, 77u);
    EXPECT_EQ(out.SetVolume(1, 0), MMSYSERR_BADDEVICEID);
    EXPECT_FALSE(out.IsAvailable());
}

}  // namespace
}  // namespace velmora
