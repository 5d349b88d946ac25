#include "ToneGenTestSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora::testing {
namespace {

// A partial's frequency in whole hertz as a 16-bit count: truncated, held to the ends of the
// 16-bit range, NaN as 0 (a double outside int is no int to convert to).
int Hertz16(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<int>(std::trunc(std::clamp(v, -32768.0, 32767.0)));
}

}  // namespace

std::vector<std::uint8_t> ReferenceData(const TToneGen& gen) {
    const bool is16 = gen.Resolution() == tg16Bit;
    const int bps = is16 ? 2 : 1;
    const int channels = gen.Stereo() ? 2 : 1;
    const int rate = gen.Quality() == tgHiQ ? 96000 : 44100;
    std::int64_t dataSize = std::int64_t{bps} * gen.Duration() * (rate / 100) / 10;
    if (gen.Stereo()) {
        dataSize *= 2;
    }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dataSize + 32), is16 ? 0 : 128);
    std::uint32_t seed = 1;

    struct Part {
        int a, f;
        TTGWave w;
    };
    std::vector<Part> parts;
    int sum = 0;
    for (int i = 0; i < 8; ++i) {
        sum += gen.AMEntry(i).amplitude;
    }
    parts.push_back({100 - sum, gen.Frequency(), gen.Waveform()});
    for (int i = 0; i < 8; ++i) {
        const TAMEntry& e = gen.AMEntry(i);
        int a = e.amplitude;
        if (sum > 100) {
            a = a * 100 / sum;
        }
        int f;
        if (gen.AMUseMultiplier()) {
            f = std::clamp(Hertz16(gen.Frequency() * static_cast<double>(e.frequency)), 20, 20000);
        } else {
            f = Hertz16(static_cast<double>(e.frequency));
        }
        parts.push_back({a, f, e.waveform});
    }

    for (const Part& part : parts) {
        if (part.a <= 0 || part.f <= 0) {
            continue;
        }
        double span = is16 ? part.a * 65534 / 100.0 : part.a * 254 / 100.0;
        const double low = is16 ? -(part.a * 32767) / 100.0 : -(part.a * 127) / 100.0;
        const double p = static_cast<double>(rate) / part.f;
        long length = static_cast<long>(p);
        const long half = static_cast<long>(p + 0.5) / 2;
        const double angle = 2 * std::numbers::pi / static_cast<double>(length);
        if (part.w == tgSquare) {
            span /= 2;
        }
        double r = low;
        const double step = part.w == tgTriangle ? span / static_cast<double>(half)
                                                 : span / static_cast<double>(length);
        long k = 0;
        long n = 1;
        for (std::int64_t pos = 0; pos < dataSize; pos += bps * channels) {
            double v;
            switch (part.w) {
                case tgSine:
                    v = std::trunc(std::sin(static_cast<double>(k) * angle) / 2 * span);
                    break;
                case tgSquare:
                    v = k < half ? low : span;
                    break;
                case tgTriangle:
                    v = std::trunc(r);
                    r = k < half ? r + step : r - step;
                    if (r < low) {
                        r = low;
                    }
                    break;
                case tgSawtooth:
                    v = std::trunc(r);
                    r += step;
                    break;
                default: {
                    seed = seed * 134775813u + 1u;
                    const auto range = static_cast<std::uint64_t>(std::trunc(span + 1));
                    v = static_cast<double>((seed * range) >> 32) + low;
                    break;
                }
            }
            const auto at = static_cast<std::size_t>(pos);
            if (is16) {
                const int stored = static_cast<std::int16_t>(out[at] | out[at + 1] << 8);
                const auto result =
                    static_cast<std::uint16_t>(stored + static_cast<long>(std::trunc(v)));
                for (int c = 0; c < channels; ++c) {
                    out[at + 2 * c] = result & 0xFF;
                    out[at + 2 * c + 1] = result >> 8;
                }
            } else {
                const auto result = static_cast<std::uint8_t>(
                    out[at] - 128 + static_cast<long>(std::trunc(v + 128)));
                for (int c = 0; c < channels; ++c) {
                    out[at + c] = result;
                }
            }
            if (++k == length) {
                k = 0;
                r = low;
                ++n;
                length = static_cast<long>(static_cast<double>(n) * p -
                                           std::trunc(static_cast<double>(n - 1) * p));
            }
        }
    }
    return out;
}

}  // namespace velmora::testing
