#include "app/HeldSoundOutput.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velmora {
namespace {

using Kind = SimulatedSoundOutput::CallKind;

const std::vector<std::uint8_t> kFirst{1, 2, 3, 4};
const std::vector<std::uint8_t> kSecond{5, 6, 7, 8};
constexpr std::uint32_t kLoop = SND_MEMORY | SND_ASYNC | SND_LOOP;

TEST(HeldSoundOutput, PassesEverythingOnWhileNotHeld) {
    SimulatedSoundOutput output;
    HeldSoundOutput held(output);
    output.ClearCalls();
    EXPECT_TRUE(held.PlaySound(kFirst, kLoop));
    EXPECT_EQ(held.SetVolume(0, 0x12345678u), MMSYSERR_NOERROR);
    std::uint32_t volume = 0;
    EXPECT_EQ(held.GetVolume(0, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x12345678u);
    ASSERT_EQ(output.CallsOf(Kind::PlaySound).size(), 1u);
    EXPECT_EQ(output.CurrentImage(), kFirst);
    EXPECT_TRUE(output.IsLooping());
}

TEST(HeldSoundOutput, HeldPlaysOnlyTheLastSoundOnRelease) {
    SimulatedSoundOutput output;
    HeldSoundOutput held(output);
    output.ClearCalls();
    held.Hold();
    EXPECT_TRUE(held.PlaySound(kFirst, kLoop));
    EXPECT_TRUE(held.PlaySound({}, 0));
    EXPECT_TRUE(held.PlaySound(kSecond, kLoop));
    // The volume is not held: the sound starts with it.
    EXPECT_EQ(held.SetVolume(0, 0x00010001u), MMSYSERR_NOERROR);
    EXPECT_TRUE(output.CallsOf(Kind::PlaySound).empty());
    EXPECT_EQ(output.DeviceVolume(), 0x00010001u);

    held.Release();
    const auto plays = output.CallsOf(Kind::PlaySound);
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].image, kSecond);
    EXPECT_EQ(plays[0].flags, kLoop);
    EXPECT_TRUE(output.IsLooping());

    // Released once, it is not played again.
    held.Release();
    EXPECT_EQ(output.CallsOf(Kind::PlaySound).size(), 1u);
}

TEST(HeldSoundOutput, AStopNotedLastStopsOnRelease) {
    SimulatedSoundOutput output;
    HeldSoundOutput held(output);
    ASSERT_TRUE(output.PlaySound(kFirst, kLoop));
    held.Hold();
    held.PlaySound(kSecond, kLoop);
    held.PlaySound({}, 0);
    EXPECT_TRUE(output.IsLooping());
    held.Release();
    EXPECT_FALSE(output.IsPlaying());
    EXPECT_TRUE(output.CallsOf(Kind::PlaySound).back().image.empty());
}

TEST(HeldSoundOutput, ASoundPlayedToItsEndPassesAtOnceAndReplacesWhatWasNoted) {
    SimulatedSoundOutput output;
    HeldSoundOutput held(output);
    output.ClearCalls();
    held.Hold();
    held.PlaySound(kFirst, kLoop);
    EXPECT_TRUE(held.PlaySound(kSecond, SND_MEMORY));
    ASSERT_EQ(output.CallsOf(Kind::PlaySound).size(), 1u);
    EXPECT_EQ(output.CallsOf(Kind::PlaySound)[0].image, kSecond);
    held.Release();
    EXPECT_EQ(output.CallsOf(Kind::PlaySound).size(), 1u);
    EXPECT_FALSE(output.IsPlaying());
}

}  // namespace
}  // namespace velmora
