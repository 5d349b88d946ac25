#pragma once

#include <cstdint>

namespace velmora {

// The runtime's process-wide pseudo-random generator: a linear congruential generator
// (seed = seed x 134775813 + 1, modulo 2^32). Components that need repeatable noise save the
// seed, set it, draw, and put the saved seed back.
std::uint32_t RandSeed();
void SetRandSeed(std::uint32_t seed);

// Advances the seed and returns a value in 0..range-1 (0 when range is 0): the upper 32 bits of
// the 64-bit product seed x range.
std::uint32_t Random(std::uint32_t range);

}  // namespace velmora
