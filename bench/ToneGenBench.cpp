#include "audio/ToneGen.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <benchmark/benchmark.h>

namespace velmora {
namespace {

// The test console's looping tone: 1000 Hz, 10 ms, 16-bit stereo at 96 kHz.
void BM_SynthesizeTestConsoleTone(benchmark::State& state) {
    SimulatedSoundOutput sound;
    TToneGen gen(nullptr, sound);
    gen.SetFrequency(1000);
    gen.SetDuration(10);
    gen.SetStereo(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(gen.Synthesize(false));
        benchmark::DoNotOptimize(gen.GetDataBuffer());
    }
    state.SetBytesProcessed(state.iterations() * gen.GetDataBufferSize());
}
BENCHMARK(BM_SynthesizeTestConsoleTone);

// The longest tone: 32767 ms of 16-bit stereo at 96 kHz, a carrier plus eight partials of
// every waveform.
void LongTone(benchmark::State& state, bool envelope) {
    SimulatedSoundOutput sound;
    TToneGen gen(nullptr, sound);
    gen.SetFrequency(440);
    gen.SetDuration(32767);
    gen.SetStereo(true);
    const TTGWave waves[] = {tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise};
    for (std::uint8_t i = 0; i < 8; ++i) {
        gen.SetAMParameter(i, 10, 0.5f * (i + 1), waves[i % 5]);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(gen.Synthesize(envelope));
        benchmark::DoNotOptimize(gen.GetDataBuffer());
    }
    state.SetBytesProcessed(state.iterations() * gen.GetDataBufferSize());
}

void BM_SynthesizeLongTone(benchmark::State& state) {
    LongTone(state, false);
}
BENCHMARK(BM_SynthesizeLongTone)->Unit(benchmark::kMillisecond);

void BM_SynthesizeLongToneWithEnvelope(benchmark::State& state) {
    LongTone(state, true);
}
BENCHMARK(BM_SynthesizeLongToneWithEnvelope)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
