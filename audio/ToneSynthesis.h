#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora {

// Waveform of the carrier and of each partial. A value outside the list renders noise.
enum TTGWave : std::uint8_t {
    tgSine = 0,
    tgSquare = 1,
    tgTriangle = 2,
    tgSawtooth = 3,
    tgNoise = 4
};

enum TTGResolution : std::uint8_t { tg16Bit = 0, tg8Bit = 1 };

// Sample rate: 96000 or 44100 samples a second.
enum TTGQuality : std::uint8_t { tgHiQ = 0, tgLoQ = 1 };

// A tone as plain numbers: everything the samples of its wave image depend on.
struct ToneDescription {
    // One waveform added into the samples: amplitude in percent of full scale, frequency in
    // hertz (a component with either at 0 or below adds nothing).
    struct Component {
        int amplitude = 0;
        int frequency = 0;
        TTGWave waveform = tgSine;
    };
    std::vector<Component> components;  // added in this order: the carrier first
    int duration = 10;                  // milliseconds
    TTGResolution resolution = tg16Bit;
    TTGQuality quality = tgHiQ;
    bool stereo = false;

    int BytesPerSample() const { return resolution == tg16Bit ? 2 : 1; }
    int Channels() const { return stereo ? 2 : 1; }
    int Rate() const { return quality == tgHiQ ? 96000 : 44100; }
    // Bytes of sample data: whole 10 ms blocks' worth of samples per millisecond.
    std::uint32_t DataSize() const;
};

// Shares of the envelope's phases in percent of the sound's length; sustain is a level in percent.
struct EnvelopeShape {
    int attack = 0;
    int hold = 0;
    int decay = 0;
    int sustain = 0;
    int release = 0;
};

// The wave image of a tone: a 44-byte RIFF/WAVE header, the samples and 32 bytes of slack, which
// the last frame of a component may run into. Noise is repeatable: every rendering draws from a
// generator of its own started at seed 1. Empty when there is no data or no memory for it.
std::vector<std::uint8_t> RenderWaveImage(const ToneDescription& tone);

// Shapes the samples of a wave image in place, in the format its header gives.
void ApplyEnvelope(std::span<std::uint8_t> image, const EnvelopeShape& shape);

constexpr int kWaveHeaderSize = 44;
constexpr int kWaveSlackSize = 32;

}  // namespace velmora
