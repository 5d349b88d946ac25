#include "audio/ToneSynthesis.h"

#include "framework/Random.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

// A tone described by numbers alone renders without a component, a device or shared state.
TEST(ToneSynthesisTest, NoiseIsRepeatableAndLeavesTheSharedGeneratorAlone) {
    ToneDescription tone;
    tone.components = {{60, 1000, tgSine}, {40, 0, tgNoise}, {40, 3000, tgNoise}};
    tone.duration = 20;
    tone.stereo = true;
    SetRandSeed(777);
    const std::vector<std::uint8_t> first = RenderWaveImage(tone);
    EXPECT_EQ(RandSeed(), 777u);
    Random(1000);  // another use of the shared generator changes nothing here
    EXPECT_EQ(RenderWaveImage(tone), first);

    ASSERT_EQ(first.size(), std::size_t(kWaveHeaderSize) + 20 * 96 * 2 * 2 + kWaveSlackSize);
    EXPECT_EQ(first[22], 2);  // channels
    // The noise partial moves samples that the sine leaves at 0, and left equals right.
    const auto sample = [&](std::size_t frame, int channel) {
        const std::size_t at = kWaveHeaderSize + frame * 4 + std::size_t(channel) * 2;
        return std::int16_t(first[at] | first[at + 1] << 8);
    };
    EXPECT_NE(sample(0, 0), 0);
    EXPECT_EQ(sample(0, 0), sample(0, 1));
    EXPECT_EQ(sample(1919, 0), sample(1919, 1));
}

TEST(ToneSynthesisTest, NothingToRenderGivesNoImage) {
    ToneDescription tone;
    tone.duration = 0;
    EXPECT_TRUE(RenderWaveImage(tone).empty());
    tone.duration = 10;
    tone.resolution = tg8Bit;
    tone.quality = tgLoQ;
    const std::vector<std::uint8_t> silent = RenderWaveImage(tone);  // no components
    ASSERT_EQ(silent.size(), std::size_t(kWaveHeaderSize) + 441 + kWaveSlackSize);
    EXPECT_EQ(silent[kWaveHeaderSize], 128);  // 8-bit silence
}

}  // namespace
}  // namespace velmora
