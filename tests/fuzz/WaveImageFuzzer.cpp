// The wave image reader: any bytes give no result, or a format it accepts with sample data of
// whole frames inside the image, behind a "fmt " and a "data" chunk that lie in it.
#include "FuzzSupport.h"

#include "platform/sound/WaveImage.h"

#include <QtEndian>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> image(data, size);
    const std::optional<WaveImage> wave = ParseWaveImage(image);
    if (!wave) {
        return 0;
    }
    FUZZ_REQUIRE(size >= 12 && std::memcmp(data, "RIFF", 4) == 0 &&
                 std::memcmp(data + 8, "WAVE", 4) == 0);
    FUZZ_REQUIRE(wave->channels == 1 || wave->channels == 2);
    FUZZ_REQUIRE(wave->bitsPerSample == 8 || wave->bitsPerSample == 16);
    FUZZ_REQUIRE(wave->sampleRate >= 8000 && wave->sampleRate <= 192000);
    const std::uint8_t* first = wave->data.data();
    FUZZ_REQUIRE(wave->data.empty() ||
                 (first >= data + 20 && first + wave->data.size() <= data + size));
    FUZZ_REQUIRE(wave->data.size() % wave->FrameSize() == 0);
    FUZZ_REQUIRE(wave->Frames() * wave->FrameSize() == wave->data.size());
    // The data chunk's header stands right before its samples and announces at least them.
    if (!wave->data.empty()) {
        const std::uint8_t* header = first - 8;
        FUZZ_REQUIRE(std::memcmp(header, "data", 4) == 0);
        FUZZ_REQUIRE(qFromLittleEndian<std::uint32_t>(header + 4) >= wave->data.size());
        FUZZ_REQUIRE(qFromLittleEndian<std::uint32_t>(header + 4) - wave->data.size() <
                     wave->FrameSize());
    }
    // Reading the same bytes again gives the same result; reading a copy, the same format.
    const std::vector<std::uint8_t> copy(data, data + size);
    const std::optional<WaveImage> again = ParseWaveImage(copy);
    FUZZ_REQUIRE(
        again && again->channels == wave->channels && again->sampleRate == wave->sampleRate &&
        again->bitsPerSample == wave->bitsPerSample && again->data.size() == wave->data.size() &&
        std::equal(again->data.begin(), again->data.end(), wave->data.begin()));
    return 0;
}
