#pragma once

// Wave images for tests that must not depend on the tone generator.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velmora::test {

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// A 44-byte header followed by `dataSize` bytes of silence.
inline std::vector<std::uint8_t> WaveHeader(std::uint16_t channels, std::uint32_t rate,
                                            std::uint16_t bits, std::uint32_t dataSize) {
    std::vector<std::uint8_t> b(44 + dataSize, bits == 8 ? 128 : 0);
    std::memcpy(&b[0], "RIFF", 4);
    Put32(b, 4, dataSize + 36);
    std::memcpy(&b[8], "WAVEfmt ", 8);
    Put32(b, 16, 16);
    Put16(b, 20, 1);
    Put16(b, 22, channels);
    Put32(b, 24, rate);
    Put32(b, 28, rate * channels * (bits / 8u));
    Put16(b, 32, static_cast<std::uint16_t>(channels * (bits / 8u)));
    Put16(b, 34, bits);
    std::memcpy(&b[36], "data", 4);
    Put32(b, 40, dataSize);
    return b;
}

// A sine of `frequency` over `frames` frames, phase continuous from frame 0, the same value in
// every channel, at `amplitude` of full scale.
inline std::vector<std::uint8_t> SineImage(double frequency, std::uint32_t frames,
                                           std::uint32_t rate = 96000, std::uint16_t bits = 16,
                                           std::uint16_t channels = 2, double amplitude = 1.0) {
    const std::uint32_t bytes = bits / 8u;
    std::vector<std::uint8_t> b = WaveHeader(channels, rate, bits, frames * channels * bytes);
    for (std::uint32_t n = 0; n < frames; ++n) {
        const double s = amplitude * std::sin(2.0 * M_PI * frequency * n / rate);
        for (std::uint16_t c = 0; c < channels; ++c) {
            const std::size_t at = 44 + (std::size_t{n} * channels + c) * bytes;
            if (bits == 16) {
                Put16(b, at,
                      static_cast<std::uint16_t>(
                          static_cast<std::int16_t>(std::lround(s * 32767.0))));
            } else {
                b[at] = static_cast<std::uint8_t>(128 + std::lround(s * 127.0));
            }
        }
    }
    return b;
}

}  // namespace velmora::test
