#include "tools/ToneOptions.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace velmora {

const char* const kToneUsage =
    "usage: velmora-tone --export FILE [TONE OPTIONS]\n"
    "       velmora-tone --play [TONE OPTIONS] [--loop] [--seconds S] [--left-volume N]\n"
    "                    [--right-volume N]\n"
    "\n"
    "tone options (defaults are the tone generator's initial values):\n"
    "  --frequency HZ            carrier frequency, limited to 20..20000 (default 440)\n"
    "  --note TEXT               carrier frequency as a note, e.g. A, c, O2A, >>G#, N48\n"
    "  --duration MS             length of the tone, limited to 10..32767 (default 100)\n"
    "  --waveform sine|square|triangle|sawtooth|noise      (default sine)\n"
    "  --resolution 16|8         bits a sample (default 16)\n"
    "  --quality hi|lo           96000 or 44100 samples a second (default hi)\n"
    "  --stereo                  two channels instead of one\n"
    "  --partial LEVEL:AMPLITUDE:FREQ:WAVEFORM\n"
    "                            adds a partial: LEVEL 0..7, AMPLITUDE percent, FREQ a\n"
    "                            multiplier of the carrier frequency (or hertz with --hertz)\n"
    "  --hertz                   partial frequencies are in hertz\n"
    "  --envelope ATTACK,HOLD,DECAY,SUSTAIN,RELEASE\n"
    "                            shapes the tone with this envelope (percent each)\n"
    "\n"
    "--export writes the wave image to FILE. --play plays it for --seconds (default 2),\n"
    "repeating it with --loop; --left-volume and --right-volume set the channel levels\n"
    "(0..100). VELMORA_SOUND_OUTPUT=simulated plays through a recorder that plays nothing.\n"
    "\n"
    "exit codes: 0 done, 1 file not written (or no sound output), 2 invalid command line\n";

namespace {

template <class T>
std::optional<T> ParseNumber(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int16_t> ParseInt16(const std::string& text) {
    const auto value = ParseNumber<std::int64_t>(text);
    if (!value || *value < std::numeric_limits<std::int16_t>::min() ||
        *value > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(*value);
}

std::optional<TTGWave> ParseWave(const std::string& text) {
    if (text == "sine")
        return tgSine;
    if (text == "square")
        return tgSquare;
    if (text == "triangle")
        return tgTriangle;
    if (text == "sawtooth")
        return tgSawtooth;
    if (text == "noise")
        return tgNoise;
    return std::nullopt;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

std::optional<ToneOptions::Partial> ParsePartial(const std::string& text) {
    const auto parts = Split(text, ':');
    if (parts.size() != 4) {
        return std::nullopt;
    }
    const auto level = ParseNumber<int>(parts[0]);
    const auto amplitude = ParseInt16(parts[1]);
    const auto frequency = ParseNumber<float>(parts[2]);
    const auto wave = ParseWave(parts[3]);
    if (!level || *level < 0 || *level >= TToneGen::kAMEntries || !amplitude || !frequency ||
        !std::isfinite(*frequency) || !wave) {
        return std::nullopt;
    }
    return ToneOptions::Partial{static_cast<std::uint8_t>(*level), *amplitude, *frequency, *wave};
}

std::optional<std::array<std::int16_t, 5>> ParseEnvelope(const std::string& text) {
    const auto parts = Split(text, ',');
    if (parts.size() != 5) {
        return std::nullopt;
    }
    std::array<std::int16_t, 5> values{};
    for (std::size_t i = 0; i < 5; ++i) {
        const auto v = ParseInt16(parts[i]);
        if (!v) {
            return std::nullopt;
        }
        values[i] = *v;
    }
    return values;
}

}  // namespace

ParseResult ParseToneOptions(const std::vector<std::string>& args) {
    ParseResult result;
    ToneOptions& o = result.options;
    bool playOnly = false;
    std::string playOnlyName;
    auto fail = [&](const std::string& message) {
        result.error = message;
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        // Fetches the option's value, from "--name=value" or the next argument.
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        auto flag = [&](bool& target) {
            if (inlineValue) {
                return false;
            }
            target = true;
            return true;
        };

        if (name == "--help" || name == "-h") {
            o.mode = ToneOptions::Mode::Help;
            return result;
        }
        if (name == "--export" || name == "--play") {
            const auto mode =
                name == "--export" ? ToneOptions::Mode::Export : ToneOptions::Mode::Play;
            if (o.mode != ToneOptions::Mode::None && o.mode != mode) {
                return fail("--export and --play cannot be used together");
            }
            o.mode = mode;
            if (mode == ToneOptions::Mode::Export) {
                const auto file = value();
                if (!file || file->empty()) {
                    return fail("--export needs a file name");
                }
                o.exportFile = *file;
            } else if (inlineValue) {
                return fail("--play takes no value");
            }
            continue;
        }

        const bool takesValue = name == "--frequency" || name == "--note" || name == "--duration" ||
                                name == "--waveform" || name == "--resolution" ||
                                name == "--quality" || name == "--partial" ||
                                name == "--envelope" || name == "--seconds" ||
                                name == "--left-volume" || name == "--right-volume";
        if (takesValue) {
            const auto v = value();
            if (!v) {
                return fail(name + " needs a value");
            }
            const std::string bad = "invalid value '" + *v + "' for " + name;
            if (name == "--frequency") {
                if (!(o.frequency = ParseInt16(*v))) {
                    return fail(bad + " (a whole number of hertz)");
                }
            } else if (name == "--note") {
                o.note = *v;
            } else if (name == "--duration") {
                if (!(o.duration = ParseInt16(*v))) {
                    return fail(bad + " (a whole number of milliseconds)");
                }
            } else if (name == "--waveform") {
                if (!(o.waveform = ParseWave(*v))) {
                    return fail(bad + " (sine, square, triangle, sawtooth or noise)");
                }
            } else if (name == "--resolution") {
                if (*v == "16") {
                    o.resolution = tg16Bit;
                } else if (*v == "8") {
                    o.resolution = tg8Bit;
                } else {
                    return fail(bad + " (16 or 8)");
                }
            } else if (name == "--quality") {
                if (*v == "hi") {
                    o.quality = tgHiQ;
                } else if (*v == "lo") {
                    o.quality = tgLoQ;
                } else {
                    return fail(bad + " (hi or lo)");
                }
            } else if (name == "--partial") {
                const auto partial = ParsePartial(*v);
                if (!partial) {
                    return fail(bad +
                                " (LEVEL:AMPLITUDE:FREQ:WAVEFORM with LEVEL 0..7, e.g. "
                                "0:30:2:sine)");
                }
                o.partials.push_back(*partial);
            } else if (name == "--envelope") {
                if (!(o.envelope = ParseEnvelope(*v))) {
                    return fail(bad + " (five whole numbers: ATTACK,HOLD,DECAY,SUSTAIN,RELEASE)");
                }
            } else if (name == "--seconds") {
                const auto s = ParseNumber<double>(*v);
                if (!s || !(*s >= 0 && *s <= 86400)) {
                    return fail(bad + " (seconds, 0 to 86400)");
                }
                o.seconds = *s;
            } else {
                const auto level = ParseInt16(*v);
                if (!level) {
                    return fail(bad + " (a level 0..100)");
                }
                (name == "--left-volume" ? o.leftVolume : o.rightVolume) = level;
            }
            if (name == "--seconds" || name == "--left-volume" || name == "--right-volume") {
                playOnly = true;
                playOnlyName = name;
            }
            continue;
        }

        bool ok;
        if (name == "--stereo") {
            ok = flag(o.stereo);
        } else if (name == "--hertz") {
            ok = flag(o.hertz);
        } else if (name == "--loop") {
            ok = flag(o.loop);
            playOnly = true;
            playOnlyName = name;
        } else {
            return fail("unknown option '" + args[i] + "'");
        }
        if (!ok) {
            return fail(name + " takes no value");
        }
    }

    if (o.mode == ToneOptions::Mode::None) {
        return fail("either --export FILE or --play is needed");
    }
    if (o.frequency && o.note) {
        return fail("--frequency and --note cannot be used together");
    }
    if (playOnly && o.mode != ToneOptions::Mode::Play) {
        return fail(playOnlyName + " can only be used with --play");
    }
    return result;
}

std::string ApplyToneOptions(const ToneOptions& o, TToneGen& gen) {
    if (o.resolution) {
        gen.SetResolution(*o.resolution);
    }
    if (o.quality) {
        gen.SetQuality(*o.quality);
    }
    if (o.stereo) {
        gen.SetStereo(true);
    }
    if (o.waveform) {
        gen.SetWaveform(*o.waveform);
    }
    if (o.duration) {
        gen.SetDuration(*o.duration);
    }
    if (o.frequency) {
        gen.SetFrequency(*o.frequency);
    }
    if (o.note && gen.SetNote(QString::fromLocal8Bit(*o.note)) == 0) {
        return "invalid note '" + *o.note + "' (or outside 20..20000 Hz)";
    }
    if (o.hertz) {
        gen.SetAMUseMultiplier(false);
    }
    for (const ToneOptions::Partial& p : o.partials) {
        gen.SetAMParameter(p.level, p.amplitude, p.frequency, p.waveform);
    }
    if (o.envelope) {
        gen.SetAttack((*o.envelope)[0]);
        gen.SetHold((*o.envelope)[1]);
        gen.SetDecay((*o.envelope)[2]);
        gen.SetSustain((*o.envelope)[3]);
        gen.SetRelease((*o.envelope)[4]);
    }
    if (o.loop) {
        gen.SetLoop(true);
    }
    if (o.leftVolume) {
        gen.SetLeftVolume(*o.leftVolume);
    }
    if (o.rightVolume) {
        gen.SetRightVolume(*o.rightVolume);
    }
    return {};
}

}  // namespace velmora
