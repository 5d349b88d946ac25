#include "platform/sound/WaveImage.h"

#include "tests/support/WaveBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmora {
namespace {

using test::Put16;
using test::Put32;
using test::WaveHeader;

TEST(WaveImageTest, ReadsTheFormatOfTheTestConsolesTone) {
    // 10 ms of 16-bit stereo at 96 kHz, with 32 bytes of slack behind the data.
    auto image = WaveHeader(2, 96000, 16, 3840);
    image.resize(image.size() + 32);
    const auto wave = ParseWaveImage(image);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->channels, 2);
    EXPECT_EQ(wave->sampleRate, 96000u);
    EXPECT_EQ(wave->bitsPerSample, 16);
    EXPECT_EQ(wave->data.data(), image.data() + 44);
    EXPECT_EQ(wave->data.size(), 3840u);
    EXPECT_EQ(wave->Frames(), 960u);
}

TEST(WaveImageTest, PartialLastFrameOfAnOddDataSizeIsNotPlayed) {
    const auto image = WaveHeader(1, 44100, 16, 1323);
    const auto wave = ParseWaveImage(image);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->data.size(), 1322u);
    EXPECT_EQ(wave->Frames(), 661u);
}

TEST(WaveImageTest, EightBitMonoAtTheLowRate) {
    const auto wave = ParseWaveImage(WaveHeader(1, 44100, 8, 4410));
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->FrameSize(), 1u);
    EXPECT_EQ(wave->Frames(), 4410u);
}

TEST(WaveImageTest, ChunksThatReachPastTheImageAreRefused) {
    const auto image = WaveHeader(2, 96000, 16, 3840);
    auto longData = image;
    Put32(longData, 40, 3841);
    EXPECT_FALSE(ParseWaveImage(longData));
    auto hugeData = image;
    Put32(hugeData, 40, 0xFFFFFFF0u);  // must not wrap around in the bounds check
    EXPECT_FALSE(ParseWaveImage(hugeData));
    auto hugeFormat = image;
    Put32(hugeFormat, 16, 0xFFFFFFFFu);
    EXPECT_FALSE(ParseWaveImage(hugeFormat));
    EXPECT_FALSE(ParseWaveImage(std::span(image).first(43)));
    EXPECT_FALSE(ParseWaveImage(std::span(image).first(11)));
    EXPECT_FALSE(ParseWaveImage({}));
}

TEST(WaveImageTest, FormatsThatCannotBePlayedAreRefused) {
    const auto image = WaveHeader(2, 96000, 16, 3840);
    auto notPcm = image;
    Put16(notPcm, 20, 3);  // float
    EXPECT_FALSE(ParseWaveImage(notPcm));
    auto threeChannels = image;
    Put16(threeChannels, 22, 3);
    EXPECT_FALSE(ParseWaveImage(threeChannels));
    auto noChannels = image;
    Put16(noChannels, 22, 0);
    EXPECT_FALSE(ParseWaveImage(noChannels));
    auto twentyFourBit = image;
    Put16(twentyFourBit, 34, 24);
    EXPECT_FALSE(ParseWaveImage(twentyFourBit));
    auto badAlign = image;
    Put16(badAlign, 32, 2);
    EXPECT_FALSE(ParseWaveImage(badAlign));
    auto badByteRate = image;
    Put32(badByteRate, 28, 96000);
    EXPECT_FALSE(ParseWaveImage(badByteRate));
    auto noRate = image;
    Put32(noRate, 24, 0);
    Put32(noRate, 28, 0);
    EXPECT_FALSE(ParseWaveImage(noRate));
    auto notWave = image;
    notWave[8] = 'X';
    EXPECT_FALSE(ParseWaveImage(notWave));
}

TEST(WaveImageTest, OtherChunksAreSkippedAndDataBeforeTheFormatIsRefused) {
    // "LIST" chunk of 3 bytes (padded to 4) between the format and the data.
    auto image = WaveHeader(1, 96000, 16, 4);
    std::vector<std::uint8_t> list{'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    image.insert(image.begin() + 36, list.begin(), list.end());
    const auto wave = ParseWaveImage(image);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->data.data(), image.data() + 56);
    EXPECT_EQ(wave->Frames(), 2u);

    auto swapped = WaveHeader(1, 96000, 16, 0);
    std::rotate(swapped.begin() + 12, swapped.begin() + 36, swapped.end());
    EXPECT_FALSE(ParseWaveImage(swapped));
}

}  // namespace
}  // namespace velmora
