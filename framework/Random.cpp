#include "framework/Random.h"

namespace velmora {
namespace {

std::uint32_t seed_ = 0;

}  // namespace

std::uint32_t RandSeed() {
    return seed_;
}

void SetRandSeed(std::uint32_t seed) {
    seed_ = seed;
}

std::uint32_t Random(std::uint32_t range) {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * range) >> 32);
}

}  // namespace velmora
