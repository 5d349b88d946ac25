#include "platform/pulse/PulseVolume.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(PulseVolumeTest, FullLevelIsTheServersHundredPercentAndZeroIsSilence) {
    EXPECT_EQ(PulseVolumeFromLevel(65535), kPulseVolumeNorm);
    EXPECT_EQ(PulseVolumeFromLevel(0), 0u);
    // 30 % of the level scale is 30 % of the server's (which is a factor of 0.027 in amplitude).
    EXPECT_EQ(PulseVolumeFromLevel(19660), 19660u);
    EXPECT_EQ(LevelFromPulseVolume(kPulseVolumeNorm * 3), 65535);
}

TEST(PulseVolumeTest, EveryLevelComesBackUnchanged) {
    for (std::uint32_t level = 0; level <= 65535; ++level) {
        const auto volume = PulseVolumeFromLevel(static_cast<std::uint16_t>(level));
        ASSERT_LE(volume, kPulseVolumeNorm);
        ASSERT_EQ(LevelFromPulseVolume(volume), level);
    }
}

}  // namespace
}  // namespace velmora
