#pragma once

#include "audio/ToneGen.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The command line of velmora-tone, checked but not yet applied.
struct ToneOptions {
    enum class Mode { None, Export, Play, Help };

    struct Partial {
        std::uint8_t level;
        std::int16_t amplitude;
        float frequency;
        TTGWave waveform;
    };

    Mode mode = Mode::None;
    std::string exportFile;
    std::optional<std::int16_t> frequency;
    std::optional<std::string> note;
    std::optional<std::int16_t> duration;
    std::optional<TTGWave> waveform;
    std::optional<TTGResolution> resolution;
    std::optional<TTGQuality> quality;
    bool stereo = false;
    std::vector<Partial> partials;
    bool hertz = false;
    std::optional<std::array<std::int16_t, 5>> envelope;  // attack, hold, decay, sustain, release
    bool loop = false;
    double seconds = 2;
    std::optional<std::int16_t> leftVolume;
    std::optional<std::int16_t> rightVolume;
};

struct ParseResult {
    ToneOptions options;
    std::string error;  // empty when the command line is valid
};

ParseResult ParseToneOptions(const std::vector<std::string>& args);

// Assigns the options to the generator through its setters. Returns an error message for a note
// that is not valid, else an empty string.
std::string ApplyToneOptions(const ToneOptions& options, TToneGen& gen);

extern const char* const kToneUsage;

}  // namespace velmora
