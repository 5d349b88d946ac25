// The server seen as a mixer, from snapshots alone: channel sides, the tree and control values.
#include "platform/mixer/PulseMixerModel.h"

#include "platform/pulse/PulseVolume.h"

#include <gtest/gtest.h>

namespace velmora::pulsemixer {
namespace {

using Values = std::vector<std::uint32_t>;
constexpr std::uint32_t kHalf = kPulseVolumeNorm / 2;

Levels SurroundLevels() {
    // Front left, front right, centre, bass, rear left, rear right.
    Levels levels;
    levels.sides = {Side::Left, Side::Right, Side::Middle, Side::Middle, Side::Left, Side::Right};
    levels.volumes = {kHalf, kPulseVolumeNorm / 4, kPulseVolumeNorm, 0, kHalf / 2, kHalf};
    return levels;
}

TEST(PulseMixerModelTest, ChannelsFoldToLeftAndRightAndSpreadBackBySide) {
    const Levels surround = SurroundLevels();
    EXPECT_EQ(surround.Channels(), 2u);
    EXPECT_EQ(surround.Values(2),
              (Values{LevelFromPulseVolume(kHalf), LevelFromPulseVolume(kHalf)}));
    EXPECT_EQ(surround.Values(1), Values{65535});  // the loudest channel, the centre
    const Values volumes = surround.Volumes(Values{65535, 0});
    EXPECT_EQ(volumes, (Values{kPulseVolumeNorm, 0, kPulseVolumeNorm, kPulseVolumeNorm,
                               kPulseVolumeNorm, 0}));

    Levels mono;
    mono.sides = {Side::Middle};
    mono.volumes = {kHalf};
    EXPECT_EQ(mono.Channels(), 1u);
    EXPECT_EQ(mono.Values(2), (Values{32768, 32768}));  // no side: both show the channel
    EXPECT_EQ(mono.Volumes(Values{1000, 65535}), Values{kPulseVolumeNorm});
}

Snapshot Server() {
    Snapshot s;
    s.serverName = "pulseaudio";
    s.serverVersion = "16.1";
    s.defaultSink = "headphones";
    s.ownClient = 7;
    Levels stereo;
    stereo.sides = {Side::Left, Side::Right};
    stereo.volumes = {kHalf, kPulseVolumeNorm};
    s.sinks = {{3, "hdmi", "HDMI", stereo}, {5, "headphones", "Kopfhörer", stereo}};
    s.sources = {{9, "hdmi.monitor", "Monitor", true, stereo, {}, -1},
                 {11,
                  "mic",
                  "Mikrofon",
                  false,
                  stereo,
                  {{"in-mic", "Intern", PortType::Microphone, false},
                   {"in-line", "Line-In", PortType::Line, true}},
                  1}};
    s.streams = {{20, 5, 7, "Velmora: Wave output", stereo, true, false},
                 {21, 5, 8, "Player", stereo, true, true}};
    return s;
}

TEST(PulseMixerModelTest, TreeHasTheDefaultSinkFirstWithThisProgramsWaveBeforeOtherStreams) {
    const MixerModel model = BuildModel(Server());
    EXPECT_EQ(model.caps.vDriverVersion, 0x1001u);
    ASSERT_EQ(model.destinations.size(), 3u);  // headphones, hdmi, microphone (no monitor)
    const auto& speakers = model.destinations[0];
    EXPECT_EQ(speakers.line.line.dwLineID, MakeId(kDefaultSinkLine, 0));
    EXPECT_STREQ(speakers.line.line.szName, "Kopfhörer");
    ASSERT_EQ(speakers.sources.size(), 2u);  // our wave, the player; not our own stream again
    EXPECT_EQ(speakers.sources[0].line.dwLineID, MakeId(kOwnWaveLine, 0));
    EXPECT_EQ(speakers.sources[1].line.dwLineID, MakeId(kStreamLine, 21));
    EXPECT_EQ(speakers.sources[1].line.fdwLine & MIXERLINE_LINEF_ACTIVE, 0u);  // corked
    EXPECT_EQ(model.destinations[1].line.line.dwLineID, MakeId(kSinkLine, 3));

    const auto& mic = model.destinations[2];
    ASSERT_EQ(mic.sources.size(), 2u);
    EXPECT_EQ(mic.sources[0].line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(mic.sources[1].line.fdwLine,
              MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_DISCONNECTED | MIXERLINE_LINEF_SOURCE);
    ASSERT_EQ(mic.line.controls.size(), 3u);
    EXPECT_EQ(mic.line.controls[2].listTexts.at(1).dwParam1, PortId(11, 1));
}

TEST(PulseMixerModelTest, ControlsShowTheirObjectsOrTheHeldLevelsAndChangesAreFound) {
    Snapshot s = Server();
    const MixerModel model = BuildModel(s);
    const auto& speakers = model.destinations[0];
    const auto& wave = speakers.sources[0];
    const HeldLevels held{0x8000FFFFu, true};
    // The program's own level, playing or not: its stream is held at unity.
    EXPECT_EQ(ControlValues(s, wave, wave.controls[0], held), (Values{0xFFFF, 0x8000}));
    s.streams.erase(s.streams.begin());
    EXPECT_EQ(ControlValues(s, wave, wave.controls[0], held), (Values{0xFFFF, 0x8000}));
    EXPECT_EQ(ControlValues(s, wave, wave.controls[1], held), Values{1});
    const auto& mic = model.destinations[2];
    EXPECT_EQ(ControlValues(s, mic.line, mic.line.controls[2], held), (Values{0, 1}));

    const Seen before = BuildSeen(Server(), model, held);
    const Seen after = BuildSeen(s, BuildModel(s), held);  // our stream stopped
    std::vector<std::uint32_t> lines, controls;
    Differences(before, after, lines, controls);
    EXPECT_EQ(lines, Values{MakeId(kOwnWaveLine, 0)});  // no longer active
    EXPECT_TRUE(controls.empty()) << "the program's level did not change";
    s.streams.clear();  // a control whose object has gone shows nothing
    EXPECT_FALSE(ControlValues(s, speakers.sources[1], speakers.sources[1].controls[0], held));
}

}  // namespace
}  // namespace velmora::pulsemixer
