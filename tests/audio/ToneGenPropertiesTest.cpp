#include "audio/ToneGen.h"
#include "framework/MessageBox.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace velmora {
namespace {

class ToneGenPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetMessageBoxPresenter([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return IDOK;
        });
    }
    void TearDown() override { SetMessageBoxPresenter(previous_); }

    std::vector<MessageBoxRequest> boxes;
    SimulatedSoundOutput sound;
    TToneGen gen{nullptr, sound};

private:
    MessageBoxPresenter previous_;
};

TEST_F(ToneGenPropertiesTest, InitialValues) {
    EXPECT_EQ(gen.Frequency(), 440);
    EXPECT_EQ(gen.Duration(), 100);
    EXPECT_EQ(gen.Waveform(), tgSine);
    EXPECT_EQ(gen.Attack(), 10);
    EXPECT_EQ(gen.Hold(), 5);
    EXPECT_EQ(gen.Decay(), 20);
    EXPECT_EQ(gen.Sustain(), 50);
    EXPECT_EQ(gen.Release(), 30);
    EXPECT_EQ(gen.Async().Raw(), -1);
    EXPECT_EQ(gen.Loop().Raw(), 0);
    EXPECT_EQ(gen.Resolution(), tg16Bit);
    EXPECT_EQ(gen.Quality(), tgHiQ);
    EXPECT_EQ(gen.LeftVolume(), 100);
    EXPECT_EQ(gen.RightVolume(), 100);
    EXPECT_FALSE(gen.Stereo());
    EXPECT_EQ(gen.AMLevel(), tgAMLevel1);
    EXPECT_EQ(gen.AMAmplitude(), 0);
    EXPECT_EQ(gen.AMWaveform(), tgSine);
    EXPECT_EQ(gen.AMFrequency(), 0.5f);
    EXPECT_EQ(gen.AMUseMultiplier().Raw(), -1);
    EXPECT_EQ(gen.NoteOctave(), 4);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(gen.AMEntry(i).amplitude, 0);
        EXPECT_EQ(gen.AMEntry(i).frequency, (i + 1) / 2.0f);
        EXPECT_EQ(gen.AMEntry(i).noteOctave, 4);
    }
    EXPECT_TRUE(gen.WaveDirty() && gen.EnvelopeDirty() && gen.EnvelopeApplied() && gen.Finished());
    static_assert(sizeof(TTGWave) == 1 && sizeof(TTGResolution) == 1 && sizeof(TTGQuality) == 1 &&
                  sizeof(TTGAMLevel) == 1);
    static_assert(tgNoise == 4 && tg8Bit == 1 && tgLoQ == 1 && tgAMLevel8 == 7);
}

TEST_F(ToneGenPropertiesTest, LongBoolTakesAnyNonZeroValueAsTrue) {
    gen.SetStereo(LongBool::FromRaw(2));
    EXPECT_TRUE(gen.Stereo());
    gen.SetStereo(true);
    EXPECT_EQ(gen.Stereo().Raw(), -1);
}

TEST_F(ToneGenPropertiesTest, OutOfRangeValuesAreLimitedSilentlyAtRunTime) {
    gen.SetFrequency(10);
    EXPECT_EQ(gen.Frequency(), 20);
    gen.SetFrequency(30000);
    EXPECT_EQ(gen.Frequency(), 20000);
    gen.SetDuration(5);
    EXPECT_EQ(gen.Duration(), 10);
    gen.SetAttack(101);
    EXPECT_EQ(gen.Attack(), 100);
    gen.SetSustain(-1);
    EXPECT_EQ(gen.Sustain(), 0);
    gen.SetAMAmplitude(300);
    EXPECT_EQ(gen.AMAmplitude(), 100);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ToneGenPropertiesTest, DesigningStateShowsTheRangeInAnErrorBox) {
    gen.SetDesigning(true);
    gen.SetFrequency(10);
    EXPECT_EQ(gen.Frequency(), 20);
    gen.SetFrequency(20);  // in range: no box
    gen.SetDuration(-7);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("Value must be between 20 and 20000"));
    EXPECT_EQ(boxes[0].flags & 0xF0u, unsigned(MB_ICONERROR));
    EXPECT_EQ(boxes[1].text, QStringLiteral("Value must be between 10 and 32767"));
    EXPECT_EQ(gen.Duration(), 10);
    EXPECT_EQ(gen.CheckRange(-5, 5, -6), -5);
    EXPECT_EQ(gen.CheckRange(-5, 5, 5), 5);
}

TEST_F(ToneGenPropertiesTest, ToneSettersMarkTheWaveAndEnvelopeSettersTheEnvelope) {
    gen.Prepare();
    gen.SetAsync(false);
    gen.SetLoop(true);
    gen.SetLeftVolume(10);
    EXPECT_FALSE(gen.WaveDirty());
    gen.SetAttack(1);
    EXPECT_FALSE(gen.WaveDirty());
    EXPECT_TRUE(gen.EnvelopeDirty());
    gen.SetStereo(true);
    EXPECT_TRUE(gen.WaveDirty());
}

TEST_F(ToneGenPropertiesTest, SelectingALevelShowsItsEntryAndEditsGoIntoIt) {
    gen.SetAMParameter(3, 40, 2.5f, tgSquare);
    EXPECT_EQ(gen.AMAmplitude(), 0);  // the shown copies are not touched
    gen.SetAMLevel(tgAMLevel4);
    EXPECT_EQ(gen.AMAmplitude(), 40);
    EXPECT_EQ(gen.AMWaveform(), tgSquare);
    EXPECT_EQ(gen.AMFrequency(), 2.5f);

    gen.SetAMAmplitude(70);
    gen.SetAMWaveform(tgTriangle);
    gen.SetAMFrequency(3.25f);
    EXPECT_EQ(gen.AMEntry(3).amplitude, 70);
    EXPECT_EQ(gen.AMEntry(3).waveform, tgTriangle);
    EXPECT_EQ(gen.AMEntry(3).frequency, 3.25f);
    EXPECT_EQ(gen.AMEntry(0).amplitude, 0);

    // An entry beyond 100 % is limited when it is selected.
    gen.SetAMParameter(5, 250, 1.0f, tgSine);
    EXPECT_EQ(gen.AMEntry(5).amplitude, 250);
    gen.SetAMLevel(tgAMLevel6);
    EXPECT_EQ(gen.AMEntry(5).amplitude, 100);

    gen.ResetAM();
    EXPECT_EQ(gen.AMEntry(3).amplitude, 0);
    EXPECT_EQ(gen.AMEntry(3).frequency, 2.0f);
    EXPECT_EQ(gen.AMAmplitude(), 100);  // the copy stays
}

TEST_F(ToneGenPropertiesTest, LevelsOutsideTheTableAreRejected) {
    gen.Prepare();
    gen.SetAMParameter(8, 50, 2.0f, tgSquare);
    gen.SetAMParameter(255, 50, 2.0f, tgSquare);
    EXPECT_FALSE(gen.WaveDirty());
    EXPECT_EQ(gen.SetAMNote(8, QStringLiteral("A")), 0.0f);
    EXPECT_FALSE(gen.WaveDirty());
    gen.SetAMLevel(static_cast<TTGAMLevel>(8));
    EXPECT_EQ(gen.AMLevel(), tgAMLevel1);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(gen.AMEntry(i).amplitude, 0);
        EXPECT_EQ(gen.AMEntry(i).frequency, (i + 1) / 2.0f);
    }
}

// ---- "AMArrayData" ----

std::vector<std::uint8_t> Block(std::int32_t highest, int entries) {
    std::vector<std::uint8_t> b(4 + 12 * static_cast<std::size_t>(entries));
    std::memcpy(b.data(), &highest, 4);
    for (int i = 0; i < entries; ++i) {
        const std::int32_t amp = 10 + i;
        const std::int32_t wave = i % 5;
        const float freq = 100.0f * (i + 1);
        std::memcpy(&b[4 + 12 * i], &amp, 4);
        std::memcpy(&b[8 + 12 * i], &wave, 4);
        std::memcpy(&b[12 + 12 * i], &freq, 4);
    }
    return b;
}

TEST_F(ToneGenPropertiesTest, WrittenTableLayout) {
    gen.SetAMParameter(0, -3, 1.5f, tgNoise);
    gen.SetAMParameter(7, 99, 8000.0f, tgSawtooth);
    const auto b = gen.WriteAMArrayData();
    ASSERT_EQ(b.size(), 100u);
    const std::vector<std::uint8_t> head = {7, 0, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.begin() + 12), head);
    std::uint32_t bits;
    std::memcpy(&bits, &b[12], 4);
    EXPECT_EQ(bits, std::bit_cast<std::uint32_t>(1.5f));
    EXPECT_EQ(b[4 + 12 * 7], 99);
    EXPECT_EQ(b[8 + 12 * 7], 3);
    std::memcpy(&bits, &b[12 + 12 * 7], 4);
    EXPECT_EQ(bits, 0x45FA0000u);  // 8000.0f
}

TEST_F(ToneGenPropertiesTest, TableRoundTripsThroughTheStream) {
    for (std::uint8_t i = 0; i < 8; ++i) {
        gen.SetAMParameter(i, static_cast<std::int16_t>(i * 11), 0.25f * i, TTGWave(i % 5));
    }
    SimulatedSoundOutput otherSound;
    TToneGen other(nullptr, otherSound);
    ASSERT_TRUE(other.ReadAMArrayData(gen.WriteAMArrayData()));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(other.AMEntry(i).amplitude, gen.AMEntry(i).amplitude);
        EXPECT_EQ(other.AMEntry(i).waveform, gen.AMEntry(i).waveform);
        EXPECT_EQ(other.AMEntry(i).frequency, gen.AMEntry(i).frequency);
    }
    EXPECT_EQ(other.WriteAMArrayData(), gen.WriteAMArrayData());
}

TEST_F(ToneGenPropertiesTest, ReadingTakesTheLowBitsAndAShorterTable) {
    auto b = Block(2, 3);
    b[4] = 0x34;  // amplitude 0x00011234: low 16 bits 0x1234
    b[5] = 0x12;
    b[6] = 0x01;
    b[8] = 0x02;  // waveform 0x00000302: low 8 bits 2
    b[9] = 0x03;
    gen.Prepare();
    ASSERT_TRUE(gen.ReadAMArrayData(b));
    EXPECT_EQ(gen.AMEntry(0).amplitude, 0x1234);
    EXPECT_EQ(gen.AMEntry(0).waveform, tgTriangle);
    EXPECT_EQ(gen.AMEntry(2).frequency, 300.0f);
    EXPECT_EQ(gen.AMEntry(3).frequency, 2.0f);  // beyond the announced entries: unchanged
    EXPECT_FALSE(gen.WaveDirty());              // reading sets no flag
    EXPECT_EQ(gen.AMAmplitude(), 0);

    ASSERT_TRUE(gen.ReadAMArrayData(Block(-1, 0)));  // an empty table reads nothing
    EXPECT_EQ(gen.AMEntry(0).amplitude, 0x1234);
}

TEST_F(ToneGenPropertiesTest, DamagedTablesAreRejectedWithoutAnyChange) {
    const auto before = gen.WriteAMArrayData();
    EXPECT_FALSE(gen.ReadAMArrayData(Block(8, 9)));     // more than eight entries
    EXPECT_FALSE(gen.ReadAMArrayData(Block(1000, 8)));  // announces far more than it holds
    EXPECT_FALSE(gen.ReadAMArrayData(Block(0x7FFFFFFF, 1)));
    auto shortBlock = Block(7, 8);
    shortBlock.pop_back();
    EXPECT_FALSE(gen.ReadAMArrayData(shortBlock));
    EXPECT_FALSE(gen.ReadAMArrayData(Block(3, 2)));
    EXPECT_FALSE(gen.ReadAMArrayData(std::vector<std::uint8_t>{7, 0, 0}));
    EXPECT_FALSE(gen.ReadAMArrayData({}));
    EXPECT_EQ(gen.WriteAMArrayData(), before);
}

TEST_F(ToneGenPropertiesTest, StoredTableReplacesThePublishedEntryAfterLoading) {
    auto stored = gen.WriteAMArrayData();
    const float zero = 0.0f;
    std::memcpy(&stored[12], &zero, 4);

    SimulatedSoundOutput otherSound;
    TToneGen loaded(nullptr, otherSound);
    loaded.BeginLoading();
    loaded.SetAMAmplitude(0);
    loaded.SetAMWaveform(tgSine);
    loaded.SetAMFrequency(0.5f);
    ASSERT_TRUE(loaded.ReadAMArrayData(stored));
    loaded.EndLoading();
    EXPECT_EQ(loaded.AMEntry(0).frequency, 0.0f);
    EXPECT_EQ(loaded.AMFrequency(), 0.5f);
}

// ---- Note names ----

struct NoteCase {
    const char* text;
    std::int32_t octave;
    std::int32_t frequency;
    std::int32_t octaveAfter;  // unchanged when the note is invalid
};

TEST(ToneGenNoteTest, NoteToFrequency) {
    const NoteCase cases[] = {
        {"A", 4, 440, 4},
        {"c", 4, 523, 4},
        {"O2A", 4, 110, 2},
        {">>A", 4, 1760, 6},
        {"<<<<<A", 4, 28, 0},
        {"A-", 4, 415, 3},
        {"A-", 0, 0, 0},
        {"G#", 4, 831, 4},
        {"g+", 3, 415, 3},
        {"B#", 4, 0, 4},
        {"E+", 4, 0, 4},
        {"C-", 4, 0, 4},
        {"F-", 4, 0, 4},
        {"D-", 4, 554, 4},
        {"N48", 2, 440, 2},
        {"N0", 4, 28, 4},
        {"N114", 4, 19912, 4},
        {"N115", 4, 0, 4},
        {"N122", 4, 0, 4},
        {"N-1", 4, 0, 4},
        {"N", 4, 0, 4},
        {"NX", 4, 0, 4},
        {"N99999999999", 4, 0, 4},
        {"A4", 4, 0, 4},
        {"H", 4, 0, 4},
        {"O", 4, 0, 4},
        {"OX", 4, 0, 4},
        {"O9G#", 4, 0, 4},
        {"", 4, 0, 4},
        {"<", 4, 0, 4},
        {" \t a \r\n", 5, 880, 5},
        {"\x01o3e", 4, 330, 3},
        {">>>>>>>>>>>>A", 4, 14080, 9},
    };
    for (const NoteCase& c : cases) {
        std::int32_t octave = c.octave;
        EXPECT_EQ(TToneGen::NoteToFrequency(QString::fromLatin1(c.text), octave), c.frequency)
            << c.text;
        EXPECT_EQ(octave, c.octaveAfter) << c.text;
    }
}

// A current octave far outside 0..9 makes no note (and no arithmetic overflow on the way).
TEST(ToneGenNoteTest, AnOctaveFarOutsideItsRangeMakesNoNote) {
    const NoteCase cases[] = {
        {"A", INT32_MAX, 0, INT32_MAX}, {">A", INT32_MAX, 14080, 9},
        {"<A", INT32_MIN, 28, 0},       {"A-", INT32_MIN, 0, INT32_MIN},
        {"C", 400000000, 0, 400000000}, {"A", -3, 0, -3},
        {"O4A", INT32_MIN, 440, 4},     {"N48", INT32_MAX, 440, INT32_MAX},
    };
    for (const NoteCase& c : cases) {
        std::int32_t octave = c.octave;
        EXPECT_EQ(TToneGen::NoteToFrequency(QString::fromLatin1(c.text), octave), c.frequency)
            << c.text;
        EXPECT_EQ(octave, c.octaveAfter) << c.text;
    }
}

TEST(ToneGenNoteTest, SetNoteSetsTheFrequencyAndRemembersTheOctave) {
    SimulatedSoundOutput sound;
    TToneGen gen(nullptr, sound);
    gen.Prepare();
    EXPECT_EQ(gen.SetNote(QStringLiteral("O2A")), 110);
    EXPECT_EQ(gen.Frequency(), 110);
    EXPECT_EQ(gen.NoteOctave(), 2);
    EXPECT_TRUE(gen.WaveDirty());
    EXPECT_EQ(gen.SetNote(QStringLiteral("E")), 165);  // octave 2 carried over

    gen.Prepare();
    EXPECT_EQ(gen.SetNote(QStringLiteral("H")), 0);
    EXPECT_EQ(gen.Frequency(), 165);
    EXPECT_EQ(gen.NoteOctave(), 2);
    EXPECT_FALSE(gen.WaveDirty());
}

TEST(ToneGenNoteTest, SetAMNoteWritesAMultiplierOrHertz) {
    SimulatedSoundOutput sound;
    TToneGen gen(nullptr, sound);
    gen.SetFrequency(1000);
    EXPECT_EQ(gen.SetAMNote(0, QStringLiteral("A")), 0.44f);
    EXPECT_EQ(gen.AMEntry(0).frequency, 0.44f);
    EXPECT_EQ(gen.AMFrequency(), 0.5f);  // the shown copy is not updated

    gen.SetAMUseMultiplier(false);
    EXPECT_EQ(gen.SetAMNote(7, QStringLiteral("O5C")), 1047.0f);
    EXPECT_EQ(gen.AMEntry(7).frequency, 1047.0f);
    EXPECT_EQ(gen.AMEntry(7).noteOctave, 5);
    EXPECT_EQ(gen.AMEntry(0).noteOctave, 4);
    EXPECT_EQ(gen.NoteOctave(), 4);

    EXPECT_EQ(gen.SetAMNote(7, QStringLiteral("B#")), 0.0f);
    EXPECT_EQ(gen.AMEntry(7).frequency, 1047.0f);
}

}  // namespace
}  // namespace velmora
