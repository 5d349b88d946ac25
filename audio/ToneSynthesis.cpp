#include "audio/ToneSynthesis.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace velmora {
namespace {

// The runtime's linear congruential generator, as a generator of this rendering's own.
class NoiseSource {
public:
    // Advances the seed; a value in 0..range-1, the upper half of the product seed x range.
    std::uint32_t Next(std::uint32_t range) {
        seed_ = seed_ * 134775813u + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * range) >> 32);
    }

private:
    std::uint32_t seed_ = 1;
};

std::array<std::uint8_t, kWaveHeaderSize> WaveHeader(int channels, int bits, int rate,
                                                     std::uint32_t dataSize) {
    std::array<std::uint8_t, kWaveHeaderSize> h{};
    const auto u16 = [&h](int at, std::uint32_t v) {
        qToLittleEndian(static_cast<std::uint16_t>(v), &h[std::size_t(at)]);
    };
    const auto u32 = [&h](int at, std::uint32_t v) { qToLittleEndian(v, &h[std::size_t(at)]); };
    std::memcpy(&h[0], "RIFF", 4);
    u32(4, dataSize + 36);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    u32(16, 16);
    u16(20, 1);
    u16(22, static_cast<std::uint32_t>(channels));
    u32(24, static_cast<std::uint32_t>(rate));
    u32(28, static_cast<std::uint32_t>(channels * rate * (bits / 8)));
    u16(32, static_cast<std::uint32_t>(bits / 8 * channels));
    u16(34, static_cast<std::uint32_t>(bits));
    std::memcpy(&h[36], "data", 4);
    u32(40, dataSize);
    return h;
}

std::int64_t Trunc(double v) {
    return static_cast<std::int64_t>(v);
}

// Adds one component to every frame of the data, starting at its first byte, while the byte
// position is below the data size (so the last frame may run into the slack). next() yields the
// value to add: for 16-bit Trunc(v), for 8-bit Trunc(v + 128) - 128.
template <bool k16Bit, bool kStereo, class Next>
void AddFrames(std::uint8_t* data, std::uint32_t dataSize, Next next) {
    constexpr std::uint32_t kFrame = (k16Bit ? 2 : 1) * (kStereo ? 2 : 1);
    for (std::uint32_t pos = 0; pos < dataSize; pos += kFrame) {
        const std::int32_t add = next();
        std::uint8_t* p = data + pos;
        if constexpr (k16Bit) {
            const auto s = static_cast<std::uint16_t>((p[0] | p[1] << 8) + add);
            p[0] = static_cast<std::uint8_t>(s);
            p[1] = static_cast<std::uint8_t>(s >> 8);
            if constexpr (kStereo) {
                p[2] = p[0];
                p[3] = p[1];
            }
        } else {
            p[0] = static_cast<std::uint8_t>(p[0] + add);
            if constexpr (kStereo) {
                p[1] = p[0];
            }
        }
    }
}

template <class Next>
void AddFrames(bool is16Bit, bool stereo, std::uint8_t* data, std::uint32_t dataSize, Next next) {
    if (is16Bit) {
        stereo ? AddFrames<true, true>(data, dataSize, next)
               : AddFrames<true, false>(data, dataSize, next);
    } else {
        stereo ? AddFrames<false, true>(data, dataSize, next)
               : AddFrames<false, false>(data, dataSize, next);
    }
}

// Adds one waveform to the samples. Every waveform but noise restarts at phase 0 with every
// period; periods are Trunc(p) or Trunc(p) + 1 samples long, so that they keep to the frequency
// on average.
void AddComponent(std::uint8_t* data, std::uint32_t dataSize, const ToneDescription& tone,
                  const ToneDescription::Component& component, NoiseSource& noise) {
    const int amplitude = component.amplitude;
    const int frequency = component.frequency;
    const TTGWave waveform = component.waveform;
    if (amplitude <= 0 || frequency <= 0) {
        return;
    }
    const bool is16 = tone.resolution == tg16Bit;
    const bool stereo = tone.stereo;
    const std::int64_t a = amplitude;
    double span = is16 ? static_cast<double>(a * 65534) / 100 : static_cast<double>(a * 254) / 100;
    const double low =
        is16 ? -static_cast<double>(a * 32767) / 100 : -static_cast<double>(a * 127) / 100;
    const double p = static_cast<double>(tone.Rate()) / frequency;
    std::int64_t length = Trunc(p);  // at least 1: frequency <= 32767 < rate
    const std::int64_t half = Trunc(p + 0.5) / 2;

    auto toAdd = [is16](double v) -> std::int32_t {
        return static_cast<std::int32_t>(is16 ? Trunc(v) : Trunc(v + 128) - 128);
    };

    if (waveform > tgSawtooth) {
        const auto range = static_cast<std::uint32_t>(Trunc(span + 1));
        AddFrames(is16, stereo, data, dataSize,
                  [&] { return toAdd(static_cast<double>(noise.Next(range)) + low); });
        return;
    }

    // The other waveforms restart at phase 0 with every period, so the value added depends only
    // on the position k within the period: compute it once per k.
    const double angleStep = 2 * std::numbers::pi / static_cast<double>(length);
    if (waveform == tgSquare) {
        span = span / 2;
    }
    double rampStep = 0;
    if (waveform == tgTriangle) {
        rampStep = half > 0 ? span / static_cast<double>(half) : 0;
    } else if (waveform == tgSawtooth) {
        rampStep = span / static_cast<double>(length);
    }
    std::vector<std::int32_t> table;
    auto fillTable = [&](std::int64_t size) {
        table.resize(static_cast<std::size_t>(size));
        double r = low;
        for (std::int64_t k = 0; k < size; ++k) {
            double v;
            switch (waveform) {
                case tgSine:
                    v = static_cast<double>(
                        Trunc(std::sin(static_cast<double>(k) * angleStep) / 2 * span));
                    break;
                case tgSquare:
                    v = k < half ? low : span;
                    break;
                case tgTriangle:
                    v = static_cast<double>(Trunc(r));
                    r = k < half ? r + rampStep : r - rampStep;
                    if (r < low) {
                        r = low;
                    }
                    break;
                default:  // sawtooth
                    v = static_cast<double>(Trunc(r));
                    r = r + rampStep;
                    break;
            }
            table[static_cast<std::size_t>(k)] = toAdd(v);
        }
    };
    // Periods are Trunc(p) or Trunc(p) + 1 samples long.
    fillTable(length + 1);

    std::int64_t k = 0;
    std::int64_t n = 1;
    AddFrames(is16, stereo, data, dataSize, [&] {
        const std::int32_t add = table[static_cast<std::size_t>(k)];
        if (++k == length) {
            k = 0;
            ++n;
            length = Trunc(static_cast<double>(n) * p - std::trunc(static_cast<double>(n - 1) * p));
            if (length > static_cast<std::int64_t>(table.size())) {
                fillTable(length);
            }
        }
        return add;
    });
}

}  // namespace

std::uint32_t ToneDescription::DataSize() const {
    const std::int64_t samplesPer10ms = Rate() / 100;
    std::int64_t size =
        BytesPerSample() * static_cast<std::int64_t>(duration) * samplesPer10ms / 10;
    if (stereo) {
        size *= 2;
    }
    return static_cast<std::uint32_t>(std::max<std::int64_t>(size, 0));
}

std::vector<std::uint8_t> RenderWaveImage(const ToneDescription& tone) {
    const std::uint32_t dataSize = tone.DataSize();
    if (dataSize == 0) {
        return {};
    }
    std::vector<std::uint8_t> image;
    const std::uint8_t silence = tone.resolution == tg16Bit ? 0 : 128;
    try {
        image.assign(std::size_t{kWaveHeaderSize} + dataSize + kWaveSlackSize, silence);
    } catch (const std::bad_alloc&) {
        return {};
    }
    const auto header =
        WaveHeader(tone.Channels(), tone.BytesPerSample() * 8, tone.Rate(), dataSize);
    std::memcpy(image.data(), header.data(), header.size());
    NoiseSource noise;
    for (const ToneDescription::Component& component : tone.components) {
        AddComponent(image.data() + kWaveHeaderSize, dataSize, tone, component, noise);
    }
    return image;
}

void ApplyEnvelope(std::span<std::uint8_t> image, const EnvelopeShape& shape) {
    if (image.size() < std::size_t{kWaveHeaderSize} + kWaveSlackSize) {
        return;
    }
    // The format of the image, which the properties may have left since it was rendered.
    const bool is16 = image[34] == 16;
    const bool stereo = image[22] == 2;
    const std::int64_t bytesPerSample = is16 ? 2 : 1;
    const std::int64_t frameBytes = bytesPerSample * (stereo ? 2 : 1);
    const std::int64_t dataSize =
        static_cast<std::int64_t>(image.size()) - kWaveHeaderSize - kWaveSlackSize;
    const std::int64_t frames = dataSize / frameBytes;
    std::uint8_t* data = image.data() + kWaveHeaderSize;

    std::int32_t attack = shape.attack, hold = shape.hold, decay = shape.decay,
                 release = shape.release;
    const std::int32_t total = attack + hold + decay + release;
    if (total > 100) {
        attack = attack * 100 / total;
        hold = hold * 100 / total;
        decay = decay * 100 / total;
        release = 100 - attack - hold - decay;
    }
    const std::int32_t sustainShare = 100 - (attack + hold + decay + release);
    const double s = static_cast<double>(shape.sustain) / 100;

    auto phaseFrames = [&](std::int32_t share) {
        return static_cast<std::int64_t>(share) * dataSize / (frameBytes * 100);
    };
    std::int64_t pos = 0;
    // Runs frames pos..pos+n (none past the last frame) through shape(k, x), then moves on.
    auto phase = [&](std::int64_t n, auto shape) {
        for (std::int64_t k = 0; k <= n && pos + k < frames; ++k) {
            std::uint8_t* p = data + (pos + k) * frameBytes;
            std::int64_t x;
            if (is16) {
                x = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
            } else {
                x = static_cast<std::int64_t>(p[0]) - 128;
            }
            const std::int64_t y = shape(k, x);
            if (is16) {
                p[0] = static_cast<std::uint8_t>(y);
                p[1] = static_cast<std::uint8_t>(y >> 8);
            } else {
                p[0] = static_cast<std::uint8_t>(y + 128);
            }
            if (stereo) {
                std::memcpy(p + bytesPerSample, p, static_cast<std::size_t>(bytesPerSample));
            }
        }
        pos += n + 1;
    };

    if (const std::int64_t n = phaseFrames(attack); n != 0) {
        const double g = 1.0 / static_cast<double>(n);
        phase(n, [g](std::int64_t k, std::int64_t x) {
            return Trunc(static_cast<double>(k * x) * g);
        });
    }
    if (const std::int64_t n = phaseFrames(hold); n != 0) {
        pos += n + 1;  // unchanged
    }
    if (const std::int64_t n = phaseFrames(decay); n != 0) {
        const double g = static_cast<double>(100 - shape.sustain) / static_cast<double>(n) / 100;
        phase(n, [g](std::int64_t k, std::int64_t x) {
            return x - Trunc(static_cast<double>(k * x) * g);
        });
    }
    if (sustainShare != 0) {
        const std::int64_t n =
            release != 0 ? phaseFrames(sustainShare) : std::max<std::int64_t>(frames - pos, 0);
        phase(n, [s](std::int64_t, std::int64_t x) { return Trunc(static_cast<double>(x) * s); });
    }
    if (release != 0) {
        if (const std::int64_t n = frames - pos; n > 0) {
            const double g = s / static_cast<double>(n);
            phase(n, [g, n](std::int64_t k, std::int64_t x) {
                return Trunc(static_cast<double>((n - k) * x) * g);
            });
        }
    }
}

}  // namespace velmora
