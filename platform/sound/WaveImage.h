#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace velmora {

// The PCM format and sample data of an in-memory RIFF/WAVE image, checked against the bytes
// that hold it.
struct WaveImage {
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    // Whole frames only: a trailing partial frame (an odd data size of a 16-bit image) is not
    // part of the sound.
    std::span<const std::uint8_t> data;

    std::uint32_t FrameSize() const { return channels * (bitsPerSample / 8u); }
    std::size_t Frames() const { return data.size() / FrameSize(); }
};

// Reads the header of a wave image. Accepts uncompressed PCM with 1 or 2 channels, 8 or 16
// bits and a rate of 8000 to 192000 samples a second, whose chunks lie inside `image`. Chunks
// other than "fmt " and "data" are skipped. Anything else, or a chunk that claims more bytes
// than the image holds, gives no result.
std::optional<WaveImage> ParseWaveImage(std::span<const std::uint8_t> image);

}  // namespace velmora
