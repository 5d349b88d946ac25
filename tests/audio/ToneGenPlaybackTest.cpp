#include "ToneGenTestSupport.h"

#include "audio/ToneGen.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace velmora {
namespace {

using testing::ImageOf;
using Kind = SimulatedSoundOutput::CallKind;

std::size_t CountStops(const SimulatedSoundOutput& sound) {
    std::size_t stops = 0;
    for (const auto& call : sound.CallsOf(Kind::PlaySound)) {
        stops += call.image.empty() ? 1 : 0;
    }
    return stops;
}

class ToneGenPlaybackTest : public ::testing::Test {
protected:
    SimulatedSoundOutput sound;
    std::unique_ptr<TToneGen> gen = std::make_unique<TToneGen>(nullptr, sound);

    std::vector<SimulatedSoundOutput::Call> Plays() const {
        std::vector<SimulatedSoundOutput::Call> plays;
        for (const auto& call : sound.CallsOf(Kind::PlaySound)) {
            if (!call.image.empty()) {
                plays.push_back(call);
            }
        }
        return plays;
    }
};

TEST_F(ToneGenPlaybackTest, StartUpToneLoopsFromMemoryWithItsImage) {
    gen->SetLoop(true);
    gen->SetStereo(true);
    gen->SetDuration(10);
    gen->SetFrequency(1000);
    gen->Play();

    const auto plays = Plays();
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].flags, 13u);
    EXPECT_EQ(plays[0].image, ImageOf(*gen));
    EXPECT_EQ(plays[0].image.size(), 3916u);
    EXPECT_TRUE(sound.IsLooping());
    EXPECT_FALSE(gen->Finished());
}

TEST_F(ToneGenPlaybackTest, FlagsFollowAsyncAndLoop) {
    struct Case {
        bool async, loop;
        std::uint32_t flags;
        bool finished;
    };
    for (const Case c : {Case{true, false, 5, false}, Case{false, false, 4, true},
                         Case{false, true, 13, false}, Case{true, true, 13, false}}) {
        gen->SetAsync(c.async);
        gen->SetLoop(c.loop);
        sound.ClearCalls();
        gen->Play();
        ASSERT_EQ(Plays().size(), 1u);
        EXPECT_EQ(Plays()[0].flags, c.flags) << c.async << c.loop;
        EXPECT_EQ(gen->Finished(), c.finished) << c.async << c.loop;
        EXPECT_EQ(sound.IsPlaying(), !c.finished);
    }
}

TEST_F(ToneGenPlaybackTest, StopPassesNoSoundAndNoFlags) {
    gen->SetLoop(true);
    gen->Play();
    sound.ClearCalls();
    gen->Stop();
    const auto calls = sound.CallsOf(Kind::PlaySound);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].image.empty());
    EXPECT_EQ(calls[0].flags, 0u);
    EXPECT_TRUE(gen->Finished());
    EXPECT_FALSE(sound.IsPlaying());
}

TEST_F(ToneGenPlaybackTest, PlayTwiceWithoutAChangeRendersOnce) {
    gen->Play();
    const std::uint8_t* first = gen->GetDataBuffer();
    sound.ClearCalls();
    gen->Play();
    // Only the stop before playback: no rendering, which would stop once more.
    EXPECT_EQ(CountStops(sound), 1u);
    EXPECT_EQ(gen->GetDataBuffer(), first);
    ASSERT_EQ(Plays().size(), 1u);

    gen->SetFrequency(1000);
    sound.ClearCalls();
    gen->Play();
    EXPECT_EQ(CountStops(sound), 2u);
}

TEST_F(ToneGenPlaybackTest, SwitchingBetweenEnvelopeAndPlainPlaybackRendersAgain) {
    gen->Play();
    const auto plain = ImageOf(*gen);

    sound.ClearCalls();
    gen->PlayADSR();
    EXPECT_EQ(CountStops(sound), 2u);
    EXPECT_TRUE(gen->EnvelopeApplied());
    const auto shaped = ImageOf(*gen);
    EXPECT_NE(shaped, plain);

    sound.ClearCalls();
    gen->PlayADSR();  // unchanged: no rendering
    EXPECT_EQ(CountStops(sound), 1u);

    gen->SetSustain(20);  // an envelope change renders again for the enveloped playback only
    sound.ClearCalls();
    gen->PlayADSR();
    EXPECT_EQ(CountStops(sound), 2u);

    sound.ClearCalls();
    gen->Play();
    EXPECT_EQ(CountStops(sound), 2u);
    EXPECT_EQ(ImageOf(*gen), plain);
    EXPECT_FALSE(gen->EnvelopeApplied());
}

TEST_F(ToneGenPlaybackTest, PrepareRendersUnconditionallyAndPlaysNothing) {
    gen->Prepare();
    const auto plain = ImageOf(*gen);
    sound.ClearCalls();
    gen->Prepare();
    EXPECT_EQ(CountStops(sound), 1u);  // rendered again
    EXPECT_TRUE(Plays().empty());
    ASSERT_EQ(sound.CallsOf(Kind::SetVolume).size(), 1u);

    gen->PrepareADSR();
    EXPECT_TRUE(gen->EnvelopeApplied());
    EXPECT_NE(ImageOf(*gen), plain);
    EXPECT_TRUE(Plays().empty());
}

TEST_F(ToneGenPlaybackTest, VolumeWords) {
    struct Case {
        std::int16_t left, right;
        std::uint32_t word;
    };
    for (const Case c :
         {Case{100, 100, 0xFFFFFFFFu}, Case{100, 0, 0x0000FFFFu}, Case{0, 100, 0xFFFF0000u},
          Case{50, 25, 0x3FFF7FFFu}, Case{1, 99, 0xFD6F028Fu}}) {
        gen->SetLeftVolume(c.left);
        gen->SetRightVolume(c.right);
        sound.ClearCalls();
        gen->PresetVolume();
        const auto sets = sound.CallsOf(Kind::SetVolume);
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].volume, c.word);
        EXPECT_EQ(sets[0].deviceId, 0u);
    }
    gen->SetLeftVolume(150);
    gen->SetRightVolume(-3);
    EXPECT_EQ(gen->LeftVolume(), 100);
    EXPECT_EQ(gen->RightVolume(), 0);
}

TEST_F(ToneGenPlaybackTest, LevelChangeDuringALoopWaitsForTheNextPlay) {
    gen->SetLoop(true);
    gen->Play();
    ASSERT_EQ(sound.DeviceVolume(), 0xFFFFFFFFu);

    gen->SetLeftVolume(0);
    EXPECT_EQ(sound.DeviceVolume(), 0xFFFFFFFFu);
    gen->Play();
    EXPECT_EQ(sound.DeviceVolume(), 0xFFFF0000u);

    gen->Stop();
    gen->SetRightVolume(0);
    EXPECT_EQ(sound.DeviceVolume(), 0u);

    // While the stored form is loaded the level always goes to the device.
    gen->Play();
    gen->BeginLoading();
    gen->SetLeftVolume(100);
    EXPECT_EQ(sound.DeviceVolume(), 0x0000FFFFu);
    gen->EndLoading();
}

TEST_F(ToneGenPlaybackTest, SynchronousPlaybackLeavesTheFinishedFlagSet) {
    gen->SetAsync(false);
    gen->Play();
    EXPECT_TRUE(gen->Finished());
    gen->SetLeftVolume(30);  // finished: applied at once
    EXPECT_EQ(sound.DeviceVolume() & 0xFFFFu, 30u * 65535 / 100);
}

TEST_F(ToneGenPlaybackTest, NothingIsPlayedOrExportedWithoutAnImage) {
    EXPECT_EQ(gen->GetDataBuffer(), nullptr);
    EXPECT_EQ(gen->GetDataBufferSize(), 0u);
    EXPECT_FALSE(gen->ExportFile(std::filesystem::temp_directory_path() / "velmora-none.wav"));
    gen->ApplyEnvelope();  // no image: nothing to shape
    EXPECT_EQ(gen->GetDataBuffer(), nullptr);
}

TEST_F(ToneGenPlaybackTest, ExportWritesTheWholeBlock) {
    gen->SetStereo(true);
    gen->SetDuration(10);
    gen->SetFrequency(1000);
    gen->Prepare();
    const auto path = std::filesystem::temp_directory_path() / "velmora-tonegen-export.wav";
    {
        std::ofstream old(path);
        old << std::string(10000, 'x');  // an existing file is replaced
    }
    ASSERT_TRUE(gen->ExportFile(path));
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_EQ(bytes.size(), 3916u);
    EXPECT_EQ(bytes, ImageOf(*gen));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 32, bytes.end()),
              std::vector<std::uint8_t>(32, 0));

    EXPECT_FALSE(gen->ExportFile("/nonexistent-directory/velmora.wav"));
    EXPECT_FALSE(gen->ExportFile(std::filesystem::temp_directory_path()));
}

// Instances share the instance count and the device volume saved by the first one.
TEST(ToneGenInstanceTest, FirstInstanceSavesTheDeviceVolumeAndTheLastRestoresIt) {
    ASSERT_EQ(TToneGen::InstanceCount(), 0);
    SimulatedSoundOutput sound;
    sound.SetSeparateChannelVolume(false);
    sound.SetDeviceVolume(4660);  // low word 4660, high word 0

    auto first = std::make_unique<TToneGen>(nullptr, sound);
    EXPECT_EQ(TToneGen::SavedWaveVolume(), 0x12341234u);
    EXPECT_EQ(TToneGen::InstanceCount(), 1);
    auto sets = sound.CallsOf(Kind::SetVolume);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].volume, 0xFFFFFFFFu);  // both channels to full at start

    sound.ClearCalls();
    auto second = std::make_unique<TToneGen>(nullptr, sound);
    EXPECT_EQ(TToneGen::InstanceCount(), 2);
    EXPECT_TRUE(sound.CallsOf(Kind::SetVolume).empty());
    EXPECT_TRUE(sound.CallsOf(Kind::GetVolume).empty());

    first.reset();
    EXPECT_TRUE(sound.CallsOf(Kind::SetVolume).empty());
    second->SetLoop(true);
    second->Play();
    sound.ClearCalls();
    second.reset();
    EXPECT_EQ(TToneGen::InstanceCount(), 0);
    EXPECT_FALSE(sound.IsPlaying());  // stopped on destruction
    sets = sound.CallsOf(Kind::SetVolume);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].volume, 0x12341234u);
}

TEST(ToneGenInstanceTest, DeviceWithSeparateChannelsKeepsBothWords) {
    SimulatedSoundOutput sound;
    sound.SetDeviceVolume(0x80004000u);
    {
        TToneGen gen(nullptr, sound);
        EXPECT_EQ(gen.ReadWaveVolume(), 0xFFFFFFFFu);
        EXPECT_EQ(TToneGen::SavedWaveVolume(), 0x80004000u);
    }
    EXPECT_EQ(sound.DeviceVolume(), 0x80004000u);
}

TEST(ToneGenInstanceTest, DesigningInstancesLeaveTheDeviceAlone) {
    SimulatedSoundOutput sound;
    TComponent form;
    form.SetDesigning(true);
    {
        TToneGen gen(&form, sound);
        EXPECT_TRUE(gen.IsDesigning());
        EXPECT_EQ(TToneGen::InstanceCount(), 1);
    }
    EXPECT_EQ(TToneGen::InstanceCount(), 0);
    EXPECT_TRUE(sound.CallsOf(Kind::SetVolume).empty());
    EXPECT_TRUE(sound.CallsOf(Kind::GetVolume).empty());
}

TEST(ToneGenInstanceTest, MissingDeviceIsHarmless) {
    SimulatedSoundOutput sound;
    sound.SetAvailable(false);
    TToneGen gen(nullptr, sound);
    gen.SetLoop(true);
    gen.Play();
    EXPECT_EQ(gen.ReadWaveVolume(), 0u);
    EXPECT_NE(gen.GetDataBuffer(), nullptr);
}

}  // namespace
}  // namespace velmora
