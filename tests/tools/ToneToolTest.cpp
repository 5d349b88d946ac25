// End-to-end tests of velmora-tone: the built program is run and its file and exit code checked.

#include "audio/ToneGen.h"
#include "platform/sound/SimulatedSoundOutput.h"
#include "tools/ToneOptions.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>

namespace velmora {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ToneToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("velmora-tone-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        out = dir / "t.wav";
    }
    void TearDown() override { fs::remove_all(dir); }

    RunResult Run(const std::vector<std::string>& args) const {
        // --play goes to the recorder, never to a real device.
        std::string cmd = "VELMORA_SOUND_OUTPUT=simulated " + Quote(VELMORA_TONE_PATH);
        for (const auto& a : args) {
            cmd += " " + Quote(a);
        }
        const fs::path errFile = dir / "stderr.txt";
        cmd += " >/dev/null 2>" + Quote(errFile.string());
        const int status = std::system(cmd.c_str());
        const auto err = ReadFile(errFile);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(err.begin(), err.end())};
    }

    std::vector<std::uint8_t> Export(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--export", out.string()});
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ReadFile(out);
    }

    // The image the generator itself renders after the given setters.
    static std::vector<std::uint8_t> Rendered(const std::function<void(TToneGen&)>& setUp,
                                              bool envelope = false) {
        SimulatedSoundOutput sound;
        TToneGen gen(nullptr, sound);
        setUp(gen);
        envelope ? gen.PrepareADSR() : gen.Prepare();
        const std::uint8_t* p = gen.GetDataBuffer();
        return {p, p + gen.GetDataBufferSize()};
    }

    fs::path dir;
    fs::path out;
};

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

std::int16_t S16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::int16_t>(b.at(at) | b.at(at + 1) << 8);
}

TEST_F(ToneToolTest, StartUpToneFile) {
    const auto file = Export({"--frequency", "1000", "--duration", "10", "--stereo"});
    ASSERT_EQ(file.size(), 3916u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 16),
              std::string("RIFF\x24\x0f\0\0WAVEfmt ", 16));
    EXPECT_EQ(U32(file, 4), 3876u);
    EXPECT_EQ(U32(file, 24), 96000u);
    EXPECT_EQ(U32(file, 28), 384000u);
    EXPECT_EQ(U32(file, 32), 4u | 16u << 16);  // block align 4, 16 bits
    EXPECT_EQ(U32(file, 40), 3840u);
    for (std::size_t i = 0; i < 960; ++i) {
        const double angle = 2 * std::numbers::pi / 96 * static_cast<double>(i % 96);
        const auto expected = static_cast<std::int16_t>(std::sin(angle) / 2 * 65534);
        ASSERT_EQ(S16(file, 44 + 4 * i), expected) << i;
        ASSERT_EQ(S16(file, 46 + 4 * i), expected) << i;
    }
    EXPECT_EQ(std::vector<std::uint8_t>(file.end() - 32, file.end()),
              std::vector<std::uint8_t>(32, 0));
}

TEST_F(ToneToolTest, DefaultsAreTheGeneratorsInitialValues) {
    const auto file = Export({});
    EXPECT_EQ(file.size(), 44u + 19200 + 32);  // 100 ms of 16-bit mono at 96 kHz
    EXPECT_EQ(file, Rendered([](TToneGen&) {}));
}

TEST_F(ToneToolTest, OptionsGoThroughTheSetters) {
    EXPECT_EQ(Export({"--frequency", "10"}), Rendered([](TToneGen& g) { g.SetFrequency(20); }));
    EXPECT_EQ(Export({"--note", "O2A"}), Rendered([](TToneGen& g) { g.SetFrequency(110); }));
    EXPECT_EQ(
        Export({"--duration=5", "--waveform", "triangle", "--resolution", "8", "--quality", "lo"}),
        Rendered([](TToneGen& g) {
            g.SetDuration(10);
            g.SetWaveform(tgTriangle);
            g.SetResolution(tg8Bit);
            g.SetQuality(tgLoQ);
        }));
    EXPECT_EQ(
        Export({"--partial", "0:30:2:square", "--partial", "7:20:3.5:noise", "--frequency", "300"}),
        Rendered([](TToneGen& g) {
            g.SetFrequency(300);
            g.SetAMParameter(0, 30, 2.0f, tgSquare);
            g.SetAMParameter(7, 20, 3.5f, tgNoise);
        }));
    EXPECT_EQ(Export({"--hertz", "--partial", "2:40:1234.5:sawtooth", "--stereo"}),
              Rendered([](TToneGen& g) {
                  g.SetStereo(true);
                  g.SetAMUseMultiplier(false);
                  g.SetAMParameter(2, 40, 1234.5f, tgSawtooth);
              }));
}

TEST_F(ToneToolTest, EnvelopeRendersWithTheEnvelope) {
    const auto shaped = Export({"--envelope", "20,10,10,40,30", "--waveform", "square"});
    EXPECT_EQ(shaped, Rendered(
                          [](TToneGen& g) {
                              g.SetWaveform(tgSquare);
                              g.SetAttack(20);
                              g.SetHold(10);
                              g.SetDecay(10);
                              g.SetSustain(40);
                              g.SetRelease(30);
                          },
                          true));
    EXPECT_EQ(S16(shaped, 44), 0);  // the attack starts from silence
    EXPECT_NE(shaped, Export({"--waveform", "square"}));
}

TEST_F(ToneToolTest, InvalidCommandLinesExitWithTwoAndWriteNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--export"},
        {"--export", out.string(), "--bogus"},
        {"--export", out.string(), "extra"},
        {"--export", out.string(), "--frequency"},
        {"--export", out.string(), "--frequency", "abc"},
        {"--export", out.string(), "--frequency", "1000.5"},
        {"--export", out.string(), "--frequency", "40000"},
        {"--export", out.string(), "--duration", ""},
        {"--export", out.string(), "--waveform", "pulse"},
        {"--export", out.string(), "--resolution", "24"},
        {"--export", out.string(), "--quality", "mid"},
        {"--export", out.string(), "--note", "H"},
        {"--export", out.string(), "--note", "N115"},
        {"--export", out.string(), "--partial", "8:30:2:sine"},
        {"--export", out.string(), "--partial", "0:30:2"},
        {"--export", out.string(), "--partial", "0:30:nan:sine"},
        {"--export", out.string(), "--envelope", "1,2,3,4"},
        {"--export", out.string(), "--stereo=yes"},
        {"--export", out.string(), "--frequency", "440", "--note", "A"},
        {"--export", out.string(), "--play"},
        {"--export", out.string(), "--loop"},
        {"--export", out.string(), "--seconds", "1"},
        {"--export", out.string(), "--left-volume", "50"},
        {"--play", "--seconds", "-1"},
        {"--play", "--right-volume", "x"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) {
            joined += a + " ";
        }
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << joined;
        EXPECT_NE(r.err.find("velmora-tone: "), std::string::npos) << joined;
        EXPECT_FALSE(fs::exists(out)) << joined;
    }
}

TEST_F(ToneToolTest, UnwritableFileExitsWithOne) {
    const RunResult r = Run({"--export", (dir / "missing" / "t.wav").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos);
    EXPECT_EQ(Run({"--export", dir.string()}).exitCode, 1);  // a directory
}

TEST_F(ToneToolTest, PlayAndHelp) {
    EXPECT_EQ(Run({"--play", "--seconds", "0", "--loop", "--left-volume", "0", "--frequency",
                   "1000", "--stereo"})
                  .exitCode,
              0);
    EXPECT_EQ(Run({"--play", "--seconds=0.01", "--envelope", "10,5,20,50,30"}).exitCode, 0);
    EXPECT_EQ(Run({"--help"}).exitCode, 0);
}

// The playback options, applied in-process to see what reaches the sound interface.
TEST(ToneOptionsTest, PlaybackOptionsSetLoopAndChannelLevels) {
    const ParseResult parsed = ParseToneOptions(
        {"--play", "--loop", "--left-volume", "30", "--right-volume=0", "--seconds", "0.5"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.mode, ToneOptions::Mode::Play);
    EXPECT_EQ(parsed.options.seconds, 0.5);

    SimulatedSoundOutput sound;
    TToneGen gen(nullptr, sound);
    ASSERT_EQ(ApplyToneOptions(parsed.options, gen), "");
    EXPECT_EQ(gen.LeftVolume(), 30);
    EXPECT_EQ(gen.RightVolume(), 0);
    gen.Play();
    EXPECT_TRUE(sound.IsLooping());
    EXPECT_EQ(sound.DeviceVolume(), 30u * 65535 / 100);

    // Without --loop the tone plays once, asynchronously; levels beyond 100 are limited.
    const ParseResult once = ParseToneOptions({"--play", "--left-volume", "500"});
    ASSERT_EQ(once.error, "");
    SimulatedSoundOutput sound2;
    TToneGen gen2(nullptr, sound2);
    ApplyToneOptions(once.options, gen2);
    gen2.Play();
    EXPECT_EQ(gen2.LeftVolume(), 100);
    EXPECT_EQ(sound2.CallsOf(SimulatedSoundOutput::CallKind::PlaySound).back().flags, 5u);
}

}  // namespace
}  // namespace velmora
