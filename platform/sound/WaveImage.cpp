#include "platform/sound/WaveImage.h"

#include <QtEndian>

#include <cstring>

namespace velmora {

namespace {

std::uint32_t Read32(std::span<const std::uint8_t> b, std::size_t at) {
    return qFromLittleEndian<std::uint32_t>(b.data() + at);
}

std::uint16_t Read16(std::span<const std::uint8_t> b, std::size_t at) {
    return qFromLittleEndian<std::uint16_t>(b.data() + at);
}

bool TagIs(std::span<const std::uint8_t> b, std::size_t at, const char* tag) {
    return std::memcmp(b.data() + at, tag, 4) == 0;
}

}  // namespace

std::optional<WaveImage> ParseWaveImage(std::span<const std::uint8_t> image) {
    if (image.size() < 12 || !TagIs(image, 0, "RIFF") || !TagIs(image, 8, "WAVE")) {
        return std::nullopt;
    }
    WaveImage wave;
    bool haveFormat = false;
    std::size_t at = 12;
    // The RIFF size is not trusted: the chunks are checked against the real size of the image.
    while (image.size() - at >= 8) {
        const std::uint32_t size = Read32(image, at + 4);
        const std::size_t body = at + 8;
        if (size > image.size() - body) {
            return std::nullopt;
        }
        if (TagIs(image, at, "fmt ")) {
            if (size < 16 || Read16(image, body) != 1) {
                return std::nullopt;
            }
            wave.channels = Read16(image, body + 2);
            wave.sampleRate = Read32(image, body + 4);
            const std::uint32_t byteRate = Read32(image, body + 8);
            const std::uint16_t blockAlign = Read16(image, body + 12);
            wave.bitsPerSample = Read16(image, body + 14);
            if (wave.channels < 1 || wave.channels > 2 ||
                (wave.bitsPerSample != 8 && wave.bitsPerSample != 16) || wave.sampleRate < 8000 ||
                wave.sampleRate > 192000 || blockAlign != wave.FrameSize() ||
                byteRate != wave.sampleRate * blockAlign) {
                return std::nullopt;
            }
            haveFormat = true;
        } else if (TagIs(image, at, "data")) {
            if (!haveFormat) {
                return std::nullopt;
            }
            const std::size_t whole = size - size % wave.FrameSize();
            wave.data = image.subspan(body, whole);
            return wave;
        }
        // Chunks are padded to an even size.
        const std::size_t next = body + size + (size & 1u);
        if (next > image.size()) {
            return std::nullopt;
        }
        at = next;
    }
    return std::nullopt;
}

}  // namespace velmora
