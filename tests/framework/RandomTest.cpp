#include "framework/Random.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(RandomTest, LinearCongruentialSequenceScaledIntoTheRange) {
    const std::uint32_t saved = RandSeed();
    SetRandSeed(1);
    EXPECT_EQ(Random(100), 3u);  // seed 134775814: 13477581400 >> 32
    EXPECT_EQ(RandSeed(), 134775814u);
    EXPECT_EQ(Random(0), 0u);
    EXPECT_EQ(RandSeed(), 134775814u * 134775813u + 1u);  // advanced even for range 0

    SetRandSeed(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_LT(Random(7), 7u);
    }
    SetRandSeed(42);
    const std::uint32_t a = Random(1u << 31);
    SetRandSeed(42);
    EXPECT_EQ(Random(1u << 31), a);
    SetRandSeed(saved);
}

}  // namespace
}  // namespace velmora
