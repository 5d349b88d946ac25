#pragma once

#include <cstdint>
#include <span>

namespace velmora {

// The gain of the program's own sound over its frames, from 0 (silent) to 1 (as rendered). A
// change of gain follows a raised-cosine ramp: its slope is zero where it starts and where it
// ends, so a fade is not heard as a click, not even far from the tone's frequency.
//
// Frames are counted from the first frame of a sound; a ramp holds for every frame after the
// frame it starts at, whatever was planned there before, so the part of a sound not yet played
// can be rendered again with a new plan.
class GainRamp {
public:
    explicit GainRamp(double gain = 1.0) : from_(gain), to_(gain) {}

    // From `frame` on, the gain goes from its value at `frame` to `target` over `frames` frames
    // (0: at once).
    void RampTo(std::int64_t frame, double target, std::int64_t frames);

    double At(std::int64_t frame) const;
    double Target() const { return to_; }
    // The first frame from which the gain stays at its target.
    std::int64_t SettledAt() const { return start_ + length_; }

    // Scales interleaved samples (16-bit signed or 8-bit unsigned around 128) of `channels`
    // channels whose first frame is `frame`; channel c also by `channelGains[c]` where given (a
    // channel of gain 0 comes out as exact silence).
    void Apply(std::span<std::uint8_t> samples, int bitsPerSample, int channels, std::int64_t frame,
               std::span<const double> channelGains = {}) const;

private:
    std::int64_t start_ = 0;
    std::int64_t length_ = 0;
    double from_;
    double to_;
};

}  // namespace velmora
