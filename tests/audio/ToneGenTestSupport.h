#pragma once

#include "audio/ToneGen.h"

#include <cstdint>
#include <vector>

namespace velmora::testing {

inline std::vector<std::uint8_t> ImageOf(const TToneGen& gen) {
    const std::uint8_t* p = gen.GetDataBuffer();
    return p == nullptr ? std::vector<std::uint8_t>{}
                        : std::vector<std::uint8_t>(p, p + gen.GetDataBufferSize());
}

inline std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}

inline std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

inline std::int16_t S16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::int16_t>(U16(b, at));
}

// 16-bit sample of channel ch in frame i (samples start after the 44-byte header).
inline std::int16_t Sample16(const std::vector<std::uint8_t>& image, std::size_t frame,
                             int channels = 1, int ch = 0) {
    return S16(image, 44 + (frame * channels + ch) * 2);
}

// Plain, sample-by-sample rendering of the data block of the generator's current settings,
// written straight from the rendering rules, to check the optimised renderer byte by byte.
// Returns data plus slack (everything after the header).
std::vector<std::uint8_t> ReferenceData(const TToneGen& gen);

}  // namespace velmora::testing
