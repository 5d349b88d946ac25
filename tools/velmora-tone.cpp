// velmora-tone: renders a test tone with the tone generator and writes it to a wave file or
// plays it.

#include "audio/ToneGen.h"
#include "tools/SoundBackend.h"
#include "tools/ToneOptions.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kDone = 0;
constexpr int kNotWritten = 1;
constexpr int kNoOutput = 1;
constexpr int kInvalid = 2;

int Invalid(const std::string& message) {
    std::fprintf(stderr, "velmora-tone: %s\nTry 'velmora-tone --help'.\n", message.c_str());
    return kInvalid;
}

int Export(const velmora::ToneOptions& options) {
    // Writing a file needs no sound output.
    velmora::TToneGen gen(nullptr);
    if (const std::string error = ApplyToneOptions(options, gen); !error.empty()) {
        return Invalid(error);
    }
    options.envelope ? gen.PrepareADSR() : gen.Prepare();
    if (!gen.ExportFile(options.exportFile)) {
        std::fprintf(stderr, "velmora-tone: cannot write '%s'\n", options.exportFile.c_str());
        return kNotWritten;
    }
    return kDone;
}

int Play(const velmora::ToneOptions& options) {
    const auto sound = velmora::CreatePlaybackOutput();
    velmora::TToneGen gen(nullptr, *sound);
    if (const std::string error = ApplyToneOptions(options, gen); !error.empty()) {
        return Invalid(error);
    }
    if (!sound->IsAvailable()) {
        std::fprintf(stderr, "velmora-tone: no sound output available\n");
        return kNoOutput;
    }
    options.envelope ? gen.PlayADSR() : gen.Play();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    gen.Stop();
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const velmora::ParseResult parsed = velmora::ParseToneOptions(args);
    if (!parsed.error.empty()) {
        return Invalid(parsed.error);
    }
    switch (parsed.options.mode) {
        case velmora::ToneOptions::Mode::Help:
            std::fputs(velmora::kToneUsage, stdout);
            return kDone;
        case velmora::ToneOptions::Mode::Export:
            return Export(parsed.options);
        default:
            return Play(parsed.options);
    }
}
