#pragma once

#include <cstdint>

namespace velmora {

// The server's volume at 100 %; its scale is cubic in amplitude above the protocol.
constexpr std::uint32_t kPulseVolumeNorm = 0x10000;

// A level 0..65535 of the program's interfaces, linear onto the server's volume 0..100 %.
constexpr std::uint32_t PulseVolumeFromLevel(std::uint16_t level) {
    return static_cast<std::uint32_t>((std::uint64_t{level} * kPulseVolumeNorm + 32767) / 65535);
}

// The inverse; volumes above 100 % read as 65535. Exact for every value PulseVolumeFromLevel
// gives.
constexpr std::uint16_t LevelFromPulseVolume(std::uint32_t volume) {
    if (volume >= kPulseVolumeNorm) {
        return 65535;
    }
    return static_cast<std::uint16_t>((std::uint64_t{volume} * 65535 + kPulseVolumeNorm / 2) /
                                      kPulseVolumeNorm);
}

// Whether two of the server's volumes are the same volume. The server may round a volume on its
// way (PipeWire keeps volumes as floating-point amplitudes): this far apart they are.
constexpr bool SamePulseVolume(std::uint32_t a, std::uint32_t b) {
    return (a > b ? a - b : b - a) <= 8;
}

}  // namespace velmora
