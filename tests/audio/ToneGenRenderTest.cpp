#include "ToneGenTestSupport.h"

#include "audio/ToneGen.h"
#include "framework/Random.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace velmora {
namespace {

using testing::ImageOf;
using testing::ReferenceData;
using testing::S16;
using testing::Sample16;
using testing::U16;
using testing::U32;

std::vector<std::uint8_t> DataOf(const std::vector<std::uint8_t>& image) {
    return {image.begin() + 44, image.end()};
}

class ToneGenRenderTest : public ::testing::Test {
protected:
    SimulatedSoundOutput sound;
    TToneGen gen{nullptr, sound};

    std::vector<std::uint8_t> Render(bool withEnvelope = false) {
        EXPECT_TRUE(gen.Synthesize(withEnvelope));
        return ImageOf(gen);
    }
};

TEST_F(ToneGenRenderTest, StartUpToneHeader) {
    gen.SetStereo(true);
    gen.SetDuration(10);
    gen.SetFrequency(1000);
    const auto img = Render();

    ASSERT_EQ(img.size(), 3916u);
    EXPECT_EQ(std::string(img.begin(), img.begin() + 4), "RIFF");
    EXPECT_EQ(U32(img, 4), 3876u);
    EXPECT_EQ(std::string(img.begin() + 8, img.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32(img, 16), 16u);
    EXPECT_EQ(U16(img, 20), 1u);
    EXPECT_EQ(U16(img, 22), 2u);
    EXPECT_EQ(U32(img, 24), 96000u);
    EXPECT_EQ(U32(img, 28), 384000u);
    EXPECT_EQ(U16(img, 32), 4u);
    EXPECT_EQ(U16(img, 34), 16u);
    EXPECT_EQ(std::string(img.begin() + 36, img.begin() + 40), "data");
    EXPECT_EQ(U32(img, 40), 3840u);
    EXPECT_EQ(gen.GetDataBufferSize(), 3916u);
    EXPECT_EQ(std::vector<std::uint8_t>(img.end() - 32, img.end()),
              std::vector<std::uint8_t>(32, 0));
}

TEST_F(ToneGenRenderTest, EightBitMonoLowQualityHeaderAndSilentSlack) {
    gen.SetResolution(tg8Bit);
    gen.SetQuality(tgLoQ);
    const auto img = Render();

    EXPECT_EQ(U32(img, 40), 4410u);
    EXPECT_EQ(U32(img, 4), 4446u);
    EXPECT_EQ(U16(img, 22), 1u);
    EXPECT_EQ(U32(img, 24), 44100u);
    EXPECT_EQ(U32(img, 28), 44100u);
    EXPECT_EQ(U16(img, 32), 1u);
    EXPECT_EQ(U16(img, 34), 8u);
    ASSERT_EQ(img.size(), 44u + 4410 + 32);
    EXPECT_EQ(std::vector<std::uint8_t>(img.end() - 32, img.end()),
              std::vector<std::uint8_t>(32, 128));
}

TEST_F(ToneGenRenderTest, OddDataSizeHasNoPadByteAndTheLastFrameRunsIntoTheSlack) {
    gen.SetQuality(tgLoQ);
    gen.SetDuration(15);
    gen.SetWaveform(tgSquare);
    gen.SetFrequency(20);  // the first 1102 samples are the low level
    const auto img = Render();

    EXPECT_EQ(U32(img, 40), 1323u);
    EXPECT_EQ(U32(img, 4), 1359u);
    ASSERT_EQ(img.size(), 44u + 1323 + 32);
    // Frame 661 starts at the last data byte; its high byte lands in the first slack byte.
    EXPECT_EQ(S16(img, 44 + 1322), -32767);
    EXPECT_EQ(std::vector<std::uint8_t>(img.end() - 31, img.end()),
              std::vector<std::uint8_t>(31, 0));
}

TEST_F(ToneGenRenderTest, SineAtThousandHertzRepeatsEveryNinetySixSamplesWithFullPeaks) {
    gen.SetFrequency(1000);
    gen.SetDuration(10);
    const auto img = Render();

    EXPECT_EQ(Sample16(img, 0), 0);
    EXPECT_EQ(Sample16(img, 24), 32767);
    EXPECT_EQ(Sample16(img, 72), -32767);
    for (std::size_t i = 0; i < 960; ++i) {
        ASSERT_EQ(Sample16(img, i), Sample16(img, i % 96)) << "frame " << i;
        const double angle = 2 * std::numbers::pi / 96 * static_cast<double>(i % 96);
        ASSERT_EQ(Sample16(img, i), static_cast<int>(std::sin(angle) / 2 * 65534)) << i;
    }
}

TEST_F(ToneGenRenderTest, SquareIsLowForHalfAPeriodThenHigh) {
    gen.SetFrequency(1000);
    gen.SetDuration(10);
    gen.SetWaveform(tgSquare);
    const auto img = Render();
    for (std::size_t i = 0; i < 960; ++i) {
        ASSERT_EQ(Sample16(img, i), i % 96 < 48 ? -32767 : 32767) << "frame " << i;
    }
}

TEST_F(ToneGenRenderTest, EightBitSineIsCentredOn128) {
    gen.SetFrequency(1000);
    gen.SetDuration(10);
    gen.SetResolution(tg8Bit);
    const auto img = Render();
    for (std::size_t i = 0; i < 96; ++i) {
        const double angle = 2 * std::numbers::pi / 96 * static_cast<double>(i);
        ASSERT_EQ(img[44 + i], 128 + static_cast<int>(std::sin(angle) / 2 * 254)) << i;
    }
    EXPECT_EQ(img[44 + 24], 255);
    EXPECT_EQ(img[44 + 72], 1);
}

TEST_F(ToneGenRenderTest, PeriodsAt44kAlternateSoThatTenPeriodsTake441Samples) {
    gen.SetQuality(tgLoQ);
    gen.SetFrequency(1000);
    gen.SetDuration(20);
    gen.SetWaveform(tgSawtooth);  // each period starts at the low level
    const auto img = Render();

    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < 882; ++i) {
        if (Sample16(img, i) == -32767) {
            starts.push_back(i);
        }
    }
    const std::vector<std::size_t> expected = {0,   44,  88,  132, 176, 220, 264, 308, 352, 396,
                                               441, 485, 529, 573, 617, 661, 705, 749, 793, 837};
    EXPECT_EQ(starts, expected);
}

TEST_F(ToneGenRenderTest, LowToneRestartsAtPhaseZeroAfterItsPeriod) {
    gen.SetFrequency(125);  // 768 samples a period: 1.25 periods in 10 ms
    gen.SetDuration(10);
    const auto img = Render();
    EXPECT_EQ(Sample16(img, 768), 0);
    EXPECT_EQ(Sample16(img, 769), Sample16(img, 1));
    EXPECT_EQ(Sample16(img, 959), Sample16(img, 191));
    EXPECT_EQ(Sample16(img, 192), 32767);
}

TEST_F(ToneGenRenderTest, EveryWaveformFormatAndRateMatchesThePlainRendering) {
    for (TTGWave w : {tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise}) {
        for (TTGResolution res : {tg16Bit, tg8Bit}) {
            for (TTGQuality q : {tgHiQ, tgLoQ}) {
                for (bool stereo : {false, true}) {
                    gen.SetWaveform(w);
                    gen.SetResolution(res);
                    gen.SetQuality(q);
                    gen.SetStereo(stereo);
                    gen.SetFrequency(w == tgTriangle ? 733 : 1234);
                    gen.SetDuration(37);
                    EXPECT_EQ(DataOf(Render()), ReferenceData(gen))
                        << "wave " << int(w) << " res " << int(res) << " q " << int(q) << " stereo "
                        << stereo;
                }
            }
        }
    }
}

TEST_F(ToneGenRenderTest, PartialsAreScaledWhenTheirAmplitudesExceedFullScale) {
    gen.SetFrequency(1000);
    gen.SetDuration(10);
    for (std::uint8_t i = 0; i < 4; ++i) {
        gen.SetAMParameter(i, 30, 1.0f, tgSine);  // sum 120: each gets 25, the carrier none
    }
    auto img = Render();
    // Four partials at 25 %: each peak Trunc(25 x 65534 / 100 / 2) = 8191.
    EXPECT_EQ(Sample16(img, 24), 4 * 8191);
    EXPECT_EQ(DataOf(img), ReferenceData(gen));

    // Below full scale the carrier takes the rest: 70 % sine plus a 30 % square partial.
    gen.ResetAM();
    gen.SetAMParameter(0, 30, 2.0f, tgSquare);
    img = Render();
    EXPECT_EQ(Sample16(img, 24), 22936 + 9830);  // carrier peak, partial at its high level
    EXPECT_EQ(DataOf(img), ReferenceData(gen));
}

TEST_F(ToneGenRenderTest, EightMixedPartialsMatchThePlainRendering) {
    gen.SetFrequency(700);
    gen.SetStereo(true);
    gen.SetDuration(50);
    const TTGWave waves[] = {tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise};
    for (std::uint8_t i = 0; i < 8; ++i) {
        gen.SetAMParameter(i, static_cast<std::int16_t>(5 + i), 0.5f + 0.37f * i, waves[i % 5]);
    }
    EXPECT_EQ(DataOf(Render()), ReferenceData(gen));

    gen.SetAMUseMultiplier(false);
    for (std::uint8_t i = 0; i < 8; ++i) {
        gen.SetAMParameter(i, 20, 150.7f * (i + 1), waves[(i + 2) % 5]);
    }
    gen.SetResolution(tg8Bit);
    EXPECT_EQ(DataOf(Render()), ReferenceData(gen));
}

TEST_F(ToneGenRenderTest, MultipliedPartialFrequencyIsLimitedTo20000) {
    gen.SetFrequency(8000);
    gen.SetAMParameter(0, 50, 4.0f, tgSine);
    const auto limited = DataOf(Render());

    gen.SetAMUseMultiplier(false);
    gen.SetAMParameter(0, 50, 20000.0f, tgSine);
    EXPECT_EQ(limited, DataOf(Render()));

    // A factor far beyond the 16-bit range is limited too, not wrapped.
    gen.SetAMUseMultiplier(true);
    gen.SetAMParameter(0, 50, 1e30f, tgSine);
    EXPECT_EQ(limited, DataOf(Render()));
}

// Any stored partial frequency renders as the plain rendering says, however far outside the
// audible range or whatever no number it is.
TEST_F(ToneGenRenderTest, PartialFrequenciesOfAnyValueMatchThePlainRendering) {
    gen.SetFrequency(1000);
    gen.SetDuration(12);
    const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            1e30f,
                            -1e30f,
                            40000.0f,
                            -5.0f,
                            3e9f};
    for (const bool multiplier : {true, false}) {
        gen.SetAMUseMultiplier(multiplier);
        for (const float f : values) {
            gen.ResetAM();
            gen.SetAMParameter(0, 30, f, tgSine);
            gen.SetAMParameter(1, 20, -f, tgSquare);
            EXPECT_EQ(DataOf(Render()), ReferenceData(gen)) << f << " " << multiplier;
        }
    }
}

TEST_F(ToneGenRenderTest, PartialsWithoutAmplitudeOrFrequencyAreSkipped) {
    gen.SetFrequency(1000);
    const auto plain = DataOf(Render());
    gen.SetAMUseMultiplier(false);
    gen.SetAMParameter(0, 0, 500.0f, tgSquare);
    gen.SetAMParameter(1, -20, 500.0f, tgSquare);  // negative: skipped, but raises the carrier
    gen.SetAMParameter(2, 20, 0.0f, tgSquare);
    gen.SetAMParameter(3, 20, std::nanf(""), tgSquare);
    const auto img = Render();
    // Carrier at 100 - (0 - 20 + 20 + 20) = 80 %; the other three are skipped.
    EXPECT_EQ(Sample16(img, 24), static_cast<int>(80 * 65534 / 100.0 / 2));
    EXPECT_NE(DataOf(img), plain);
}

TEST_F(ToneGenRenderTest, NoiseIsTheSameOnEveryRenderingAndTheSeedIsKept) {
    gen.SetWaveform(tgNoise);
    gen.SetStereo(true);
    SetRandSeed(12345);
    const auto first = DataOf(Render());
    EXPECT_EQ(RandSeed(), 12345u);

    for (int i = 0; i < 17; ++i) {
        Random(1000);  // other use of the generator in between
    }
    const std::uint32_t before = RandSeed();
    EXPECT_EQ(DataOf(Render()), first);
    EXPECT_EQ(RandSeed(), before);
    EXPECT_EQ(first, ReferenceData(gen));
    // Left and right carry the same noise.
    const auto img = ImageOf(gen);
    EXPECT_EQ(Sample16(img, 100, 2, 0), Sample16(img, 100, 2, 1));
    EXPECT_NE(Sample16(img, 100, 2, 0), Sample16(img, 101, 2, 0));
}

TEST_F(ToneGenRenderTest, RenderingSetsTheFlagsAndStopsPlaybackFirst) {
    EXPECT_TRUE(gen.WaveDirty());
    gen.SetLoop(true);
    gen.Play();
    ASSERT_TRUE(sound.IsLooping());
    gen.Synthesize(false);
    EXPECT_FALSE(sound.IsPlaying());
    EXPECT_FALSE(gen.WaveDirty());
    EXPECT_TRUE(gen.EnvelopeDirty());
    EXPECT_FALSE(gen.EnvelopeApplied());
    EXPECT_TRUE(gen.Finished());

    gen.Synthesize(true);
    EXPECT_FALSE(gen.WaveDirty());
    EXPECT_FALSE(gen.EnvelopeDirty());
    EXPECT_TRUE(gen.EnvelopeApplied());
}

// Envelope: a constant signal (a 20 Hz square stays low for its first 1102 samples at 44.1 kHz)
// shows the gain of every frame.
class ToneGenEnvelopeTest : public ToneGenRenderTest {
protected:
    void SetUp() override {
        gen.SetQuality(tgLoQ);
        gen.SetDuration(10);  // 441 frames
        gen.SetWaveform(tgSquare);
        gen.SetFrequency(20);
    }
    void SetEnvelope(int a, int h, int d, int s, int r) {
        gen.SetAttack(static_cast<std::int16_t>(a));
        gen.SetHold(static_cast<std::int16_t>(h));
        gen.SetDecay(static_cast<std::int16_t>(d));
        gen.SetSustain(static_cast<std::int16_t>(s));
        gen.SetRelease(static_cast<std::int16_t>(r));
    }
    static int T(double v) { return static_cast<int>(v); }
};

TEST_F(ToneGenEnvelopeTest, FivePhasesAtTheirPositions) {
    SetEnvelope(10, 5, 20, 50, 30);  // sustain share 35 %
    const auto img = Render(true);
    const int x = -32767;
    // attack 44 frames (0..44), hold 22 (45..67), decay 88 (68..156), sustain 154 (157..311),
    // release to the end (312..440, n = 129).
    for (int i = 0; i < 441; ++i) {
        int expected;
        if (i <= 44) {
            expected = T(static_cast<double>(i * x) * (1.0 / 44));
        } else if (i <= 67) {
            expected = x;
        } else if (i <= 156) {
            const int k = i - 68;
            expected = x - T(static_cast<double>(k * x) * (50.0 / 88 / 100));
        } else if (i <= 311) {
            expected = T(x * 0.5);
        } else {
            const int k = i - 312;
            expected = T(static_cast<double>((129 - k) * x) * (0.5 / 129));
        }
        ASSERT_EQ(Sample16(img, static_cast<std::size_t>(i)), expected) << "frame " << i;
    }
    EXPECT_EQ(Sample16(img, 0), 0);
    EXPECT_EQ(Sample16(img, 157), -16383);
    EXPECT_EQ(Sample16(img, 440), T(-32767.0 * 0.5 / 129));
}

TEST_F(ToneGenEnvelopeTest, SharesAboveHundredAreScaledAndSustainIsSkipped) {
    SetEnvelope(60, 60, 0, 50, 0);  // becomes attack 50, hold 50
    const auto img = Render(true);
    // attack 220 frames (0..220), hold 220 (221..441, clipped): nothing reaches a sustain level.
    EXPECT_EQ(Sample16(img, 0), 0);
    EXPECT_EQ(Sample16(img, 110), T(static_cast<double>(110 * -32767) * (1.0 / 220)));
    for (int i = 221; i < 441; ++i) {
        ASSERT_EQ(Sample16(img, static_cast<std::size_t>(i)), -32767) << i;
    }
}

TEST_F(ToneGenEnvelopeTest, WithoutReleaseSustainRunsToTheLastFrame) {
    SetEnvelope(10, 5, 20, 50, 0);
    const auto img = Render(true);
    for (int i = 157; i < 441; ++i) {
        ASSERT_EQ(Sample16(img, static_cast<std::size_t>(i)), -16383) << i;
    }
}

TEST_F(ToneGenEnvelopeTest, StereoAndEightBit) {
    SetEnvelope(10, 5, 20, 50, 30);
    gen.SetStereo(true);
    auto img = Render(true);
    for (std::size_t i = 0; i < 441; ++i) {
        ASSERT_EQ(Sample16(img, i, 2, 1), Sample16(img, i, 2, 0)) << i;
    }
    EXPECT_EQ(Sample16(img, 200, 2, 0), -16383);

    gen.SetStereo(false);
    gen.SetResolution(tg8Bit);
    img = Render(true);
    EXPECT_EQ(img[44], 128);             // attack starts from silence
    EXPECT_EQ(img[44 + 67], 1);          // hold: the low level -127
    EXPECT_EQ(img[44 + 200], 128 - 63);  // sustain: Trunc(-127 x 0.5)
    EXPECT_EQ(img[44 + 440], 128 + T(-127.0 * 0.5 / 129));
}

TEST_F(ToneGenEnvelopeTest, ShapesTheImageInTheFormatItWasRenderedIn) {
    gen.SetStereo(true);
    const auto shaped = Render(true);
    gen.Synthesize(false);
    gen.SetStereo(false);  // not rendered yet
    gen.SetResolution(tg8Bit);
    gen.ApplyEnvelope();
    EXPECT_EQ(ImageOf(gen), shaped);
}

}  // namespace
}  // namespace velmora
