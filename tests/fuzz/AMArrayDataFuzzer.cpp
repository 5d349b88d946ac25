// The stored "AMArrayData" property: any bytes are either rejected without a change or read as
// announced, and the table read renders into a well-formed wave image.
#include "FuzzSupport.h"

#include "audio/ToneGen.h"
#include "framework/MessageBox.h"
#include "platform/sound/WaveImage.h"

#include <QtEndian>

#include <bit>

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A table entry far outside the audible range is reported in a box: answered at once.
    SetMessageBoxPresenter([](const MessageBoxRequest&) { return IDOK; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    TToneGen gen(nullptr);
    // A table unlike the default one, so that a change shows.
    for (std::uint8_t i = 0; i < TToneGen::kAMEntries; ++i) {
        gen.SetAMParameter(i, std::int16_t(i + 1), 0.25f * float(i + 1), TTGWave(i % 5));
    }
    const std::vector<std::uint8_t> before = gen.WriteAMArrayData();
    FUZZ_REQUIRE(before.size() == std::size_t(TToneGen::kAMArrayDataSize));

    const bool read = gen.ReadAMArrayData(bytes);
    const std::vector<std::uint8_t> after = gen.WriteAMArrayData();
    FUZZ_REQUIRE(after.size() == before.size());

    const std::int32_t highest = size >= 4 ? qFromLittleEndian<std::int32_t>(data) : -1;
    const bool fits =
        highest >= 0 && highest < TToneGen::kAMEntries && size >= 4 + 12 * std::size_t(highest + 1);
    FUZZ_REQUIRE(read == (size >= 4 && (highest < 0 || fits)));
    if (!fits) {
        FUZZ_REQUIRE(after == before);  // rejected, or an empty table: nothing changes
        return 0;
    }
    for (int i = 0; i < TToneGen::kAMEntries; ++i) {
        const TAMEntry& e = gen.AMEntry(i);
        if (i > highest) {
            FUZZ_REQUIRE(std::equal(after.begin() + 4 + 12 * i, after.begin() + 16 + 12 * i,
                                    before.begin() + 4 + 12 * i));
            continue;
        }
        const std::uint8_t* p = data + 4 + 12 * i;
        FUZZ_REQUIRE(e.amplitude == std::int16_t(qFromLittleEndian<std::uint16_t>(p)));
        FUZZ_REQUIRE(e.waveform == TTGWave(p[4]));
        FUZZ_REQUIRE(std::bit_cast<std::uint32_t>(e.frequency) ==
                     qFromLittleEndian<std::uint32_t>(p + 8));
    }

    // What was read is written back as it was read, and read again to the same table.
    TToneGen copy(nullptr);
    FUZZ_REQUIRE(copy.ReadAMArrayData(after));
    FUZZ_REQUIRE(copy.WriteAMArrayData() == after);

    // Any table renders: a short tone in both modes of the partials' frequency.
    for (const bool multiplier : {true, false}) {
        gen.SetAMUseMultiplier(multiplier);
        gen.SetQuality(tgLoQ);
        gen.SetDuration(3);
        FUZZ_REQUIRE(gen.Synthesize(true));
        const std::span<const std::uint8_t> image(gen.GetDataBuffer(), gen.GetDataBufferSize());
        const std::optional<WaveImage> wave = ParseWaveImage(image);
        FUZZ_REQUIRE(wave.has_value());
        FUZZ_REQUIRE(wave->sampleRate == 44100 && wave->bitsPerSample == 16);
        FUZZ_REQUIRE(image.size() ==
                     std::size_t(TToneGen::kHeaderSize) + wave->data.size() + TToneGen::kSlackSize);
    }
    return 0;
}
