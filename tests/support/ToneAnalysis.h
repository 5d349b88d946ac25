#pragma once

// Analysis of captured two-channel 16-bit sound for the end-to-end tests.

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora::test {

// One channel (0 left, 1 right) of interleaved stereo samples.
inline std::vector<double> Channel(std::span<const std::int16_t> stereo, int channel) {
    std::vector<double> out;
    out.reserve(stereo.size() / 2);
    for (std::size_t i = static_cast<std::size_t>(channel); i < stereo.size(); i += 2) {
        out.push_back(stereo[i]);
    }
    return out;
}

inline double Rms(std::span<const double> x) {
    if (x.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (double v : x) {
        sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(x.size()));
}

inline double Peak(std::span<const double> x) {
    double peak = 0.0;
    for (double v : x) {
        peak = std::max(peak, std::abs(v));
    }
    return peak;
}

// Frequency from the rising zero crossings, each placed between its two samples by linear
// interpolation; 0 when fewer than two crossings were found.
inline double Frequency(std::span<const double> x, double rate) {
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0 && x[i] >= 0.0) {
            const double at = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0.0) {
                first = at;
            }
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0.0;
    }
    return (crossings - 1) * rate / (last - first);
}

// Largest deviation from the recurrence x[n+1] = 2 cos(w) x[n] - x[n-1] that every sampled sine
// of frequency f obeys: a few steps of rounding for a clean tone, about w times the amplitude at
// a dropped or repeated frame.
inline double LargestSineResidual(std::span<const double> x, double frequency, double rate) {
    const double c = 2.0 * std::cos(2.0 * M_PI * frequency / rate);
    double largest = 0.0;
    for (std::size_t n = 1; n + 1 < x.size(); ++n) {
        largest = std::max(largest, std::abs(x[n + 1] - c * x[n] + x[n - 1]));
    }
    return largest;
}

// The amplitude of the component of `x` at `frequency`, over as many whole periods as `x` holds.
inline double Amplitude(std::span<const double> x, double frequency, double rate) {
    const double period = rate / frequency;
    const auto n = static_cast<std::size_t>(std::floor(double(x.size()) / period) * period);
    if (n == 0) {
        return 0.0;
    }
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double phase = 2.0 * M_PI * frequency * double(i) / rate;
        re += x[i] * std::cos(phase);
        im += x[i] * std::sin(phase);
    }
    return 2.0 * std::sqrt(re * re + im * im) / double(n);
}

// The part of `x` from the first sample whose magnitude exceeds `threshold` to the last one.
inline std::span<const double> Sounding(std::span<const double> x, double threshold) {
    std::size_t begin = 0;
    while (begin < x.size() && std::abs(x[begin]) <= threshold) {
        ++begin;
    }
    std::size_t end = x.size();
    while (end > begin && std::abs(x[end - 1]) <= threshold) {
        --end;
    }
    return x.subspan(begin, end - begin);
}

// The energy of `x` (Hann window) in its spectrum below `cutoff` Hz, as a fraction of the energy
// of the whole windowed signal `reference` (of the same length): how far under a steady tone the
// low frequencies of a click lie, from 100 Hz up: below that lies a constant offset, which is not
// heard (a server's rounding leaves one of half a step, tone or no tone). Negative dB, or -inf for
// none.
inline double LowBandDb(std::span<const double> x, std::span<const double> reference, double rate,
                        double cutoff) {
    const std::size_t n = x.size();
    if (n == 0 || reference.size() != n) {
        return 0.0;
    }
    std::vector<double> windowed(n);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / double(n));
        windowed[i] = w * x[i];
        total += (w * reference[i]) * (w * reference[i]);
    }
    // Parseval: the bins below the cutoff, each counted for its negative frequency too.
    const auto bins = static_cast<std::size_t>(cutoff * double(n) / rate);
    std::vector<double> cosine(n);
    std::vector<double> sine(n);
    for (std::size_t m = 0; m < n; ++m) {
        cosine[m] = std::cos(2.0 * M_PI * double(m) / double(n));
        sine[m] = std::sin(2.0 * M_PI * double(m) / double(n));
    }
    double low = 0.0;
    for (auto k = static_cast<std::size_t>(std::ceil(100.0 * double(n) / rate)); k < bins; ++k) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t i = 0, m = 0; i < n; ++i, m = (m + k) % n) {
            re += windowed[i] * cosine[m];
            im -= windowed[i] * sine[m];
        }
        low += 2.0 * (re * re + im * im) / double(n);
    }
    return total > 0.0 ? 10.0 * std::log10(low / total) : 0.0;
}

// The RMS of `x` over each run of `window` samples, one value per sample (from that sample on).
inline std::vector<double> MovingRms(std::span<const double> x, std::size_t window) {
    std::vector<double> out;
    if (window == 0 || x.size() < window) {
        return out;
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < window; ++i) {
        sum += x[i] * x[i];
    }
    for (std::size_t i = 0;; ++i) {
        out.push_back(std::sqrt(std::max(sum, 0.0) / double(window)));
        if (i + window >= x.size()) {
            break;
        }
        sum += x[i + window] * x[i + window] - x[i] * x[i];
    }
    return out;
}

// The first sample from which the moving RMS stays within `tolerance` (a fraction) of `level`
// to the end; x.size() when it never settles.
inline std::size_t SettledFrom(std::span<const double> x, std::size_t window, double level,
                               double tolerance) {
    const std::vector<double> rms = MovingRms(x, window);
    std::size_t settled = rms.size();
    while (settled > 0 && std::abs(rms[settled - 1] - level) <= tolerance * level + 1.0) {
        --settled;
    }
    return settled == rms.size() ? x.size() : settled;
}

}  // namespace velmora::test
