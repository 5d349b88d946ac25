#include "platform/sound/GainRamp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace velmora {

void GainRamp::RampTo(std::int64_t frame, double target, std::int64_t frames) {
    from_ = At(frame);
    to_ = std::clamp(target, 0.0, 1.0);
    start_ = frame;
    length_ = std::max<std::int64_t>(frames, 0);
}

double GainRamp::At(std::int64_t frame) const {
    if (frame < start_) {
        return from_;
    }
    if (frame >= start_ + length_) {
        return to_;
    }
    const double phase =
        std::numbers::pi * static_cast<double>(frame - start_) / static_cast<double>(length_);
    return from_ + (to_ - from_) * 0.5 * (1.0 - std::cos(phase));
}

void GainRamp::Apply(std::span<std::uint8_t> samples, int bitsPerSample, int channels,
                     std::int64_t frame, std::span<const double> channelGains) const {
    const std::size_t sampleBytes = bitsPerSample == 16 ? 2 : 1;
    const std::size_t frameBytes = sampleBytes * static_cast<std::size_t>(channels);
    const std::size_t frames = samples.size() / frameBytes;
    const bool unity = std::all_of(channelGains.begin(), channelGains.end(),
                                   [](double gain) { return gain == 1.0; });
    // Whole blocks at full gain stay as they are; the common case costs nothing.
    if (frame >= SettledAt() && to_ == 1.0 && unity) {
        return;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        const double ramp = At(frame + static_cast<std::int64_t>(f));
        if (ramp == 1.0 && unity) {
            continue;
        }
        std::uint8_t* sample = samples.data() + f * frameBytes;
        for (int c = 0; c < channels; ++c, sample += sampleBytes) {
            const auto index = static_cast<std::size_t>(c);
            const double gain = index < channelGains.size() ? ramp * channelGains[index] : ramp;
            if (sampleBytes == 2) {
                std::int16_t value;
                std::memcpy(&value, sample, 2);
                value = static_cast<std::int16_t>(std::lround(value * gain));
                std::memcpy(sample, &value, 2);
            } else {
                *sample = static_cast<std::uint8_t>(128 + std::lround((*sample - 128) * gain));
            }
        }
    }
}

}  // namespace velmora
