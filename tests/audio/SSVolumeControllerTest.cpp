#include "audio/SSVolumeController.h"

#include "platform/mixer/SimulatedMixerDevice.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using Kind = SimulatedMixerDevice::CallKind;
using Values = std::vector<std::uint32_t>;

// A sound card whose recording destination comes first, so the speakers are found by type.
class SSVolumeControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dev_ = mixer_.AddDevice("Card");
        mixer_.AddDestination(dev_, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording");
        speakers_ = mixer_.AddDestination(dev_, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers");
        volume_ = mixer_.AddControl(dev_, speakers_, MIXERCONTROL_CONTROLTYPE_VOLUME);
        mute_ = mixer_.AddControl(dev_, speakers_, MIXERCONTROL_CONTROLTYPE_MUTE,
                                  MIXERCONTROL_CONTROLF_UNIFORM);
        mixer_.SetValues(dev_, mute_, {1});
    }

    // The values of every set request on `control`, in order.
    std::vector<Values> SetsOf(std::uint32_t control) const {
        std::vector<Values> sets;
        for (const auto& call : mixer_.CallsOf(Kind::SetControlDetails)) {
            if (call.details.dwControlID == control) {
                sets.push_back(call.values);
            }
        }
        return sets;
    }

    SimulatedMixerDevice mixer_;
    std::uint32_t dev_ = 0, speakers_ = 0, volume_ = 0, mute_ = 0;
};

TEST_F(SSVolumeControllerTest, ConstructionFindsTheSpeakerControlsUnmutesAndReadsBack) {
    mixer_.SetValues(dev_, volume_, {65535, 32767});
    TssVolumeController controller(nullptr, mixer_);

    const auto& calls = mixer_.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].kind, Kind::Open);
    EXPECT_EQ(calls[0].mixer, 0u);
    EXPECT_EQ(calls[0].flags, 0u);
    EXPECT_FALSE(calls[0].callback);

    EXPECT_EQ(calls[1].kind, Kind::GetLineInfo);
    EXPECT_EQ(calls[1].mixer, 0u);  // device 0 by its identifier
    EXPECT_EQ(calls[1].flags, MIXER_GETLINEINFOF_COMPONENTTYPE);
    EXPECT_EQ(calls[1].line.cbStruct, 168u);
    EXPECT_EQ(calls[1].line.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);

    EXPECT_EQ(calls[2].kind, Kind::GetLineControls);
    EXPECT_EQ(calls[2].flags, MIXER_GETLINECONTROLSF_ALL);
    EXPECT_EQ(calls[2].controls.dwLineID, speakers_);
    EXPECT_EQ(calls[2].controls.cControls, 2u);
    EXPECT_EQ(calls[2].controls.cbmxctrl, 148u);

    EXPECT_EQ(calls[3].kind, Kind::SetControlDetails);
    EXPECT_EQ(calls[3].details.dwControlID, mute_);
    EXPECT_EQ(calls[3].details.cChannels, 1u);
    EXPECT_EQ(calls[3].details.cbDetails, 4u);
    EXPECT_EQ(calls[3].values, Values{0});
    EXPECT_EQ(mixer_.Values(dev_, mute_), Values{0});

    EXPECT_EQ(calls[4].kind, Kind::GetControlDetails);
    EXPECT_EQ(calls[4].details.dwControlID, volume_);
    EXPECT_EQ(calls[4].details.cChannels, 2u);
    EXPECT_EQ(calls[4].details.cMultipleItems, 0u);

    EXPECT_FALSE(controller.Mute());
    EXPECT_TRUE(controller.HasVolumeControl());
    EXPECT_TRUE(controller.HasMuteControl());
}

TEST_F(SSVolumeControllerTest, VolumeAndBalanceAreSentAsTwoChannelLevels) {
    TssVolumeController controller(nullptr, mixer_);
    mixer_.ClearCalls();

    controller.SetVolume(50);
    controller.SetVolume(100);
    controller.SetBalance(-50);
    controller.SetBalance(25);
    EXPECT_EQ(
        SetsOf(volume_),
        (std::vector<Values>{{32767, 32767}, {65535, 65535}, {65535, 32767}, {49151, 65535}}));
    // The stored balance goes with the next volume, without a read in between.
    controller.SetVolume(40);
    EXPECT_EQ(SetsOf(volume_).back(), (Values{19660, 26214}));
    EXPECT_TRUE(mixer_.CallsOf(Kind::GetControlDetails).empty());
}

TEST_F(SSVolumeControllerTest, ReadingGivesTheLargerChannelAndTheBalanceBetweenThem) {
    TssVolumeController controller(nullptr, mixer_);
    mixer_.SetValues(dev_, volume_, {65535, 32767});
    EXPECT_EQ(controller.Volume(), 100);
    EXPECT_EQ(controller.Balance(), -50);
    mixer_.SetValues(dev_, volume_, {32767, 65535});
    EXPECT_EQ(controller.Balance(), 50);
    EXPECT_EQ(controller.Volume(), 100);
    mixer_.SetValues(dev_, volume_, {600, 600});
    EXPECT_EQ(controller.Volume(), 0);
    mixer_.SetValues(dev_, volume_, {600, 0});
    EXPECT_EQ(controller.Balance(), 0) << "volume 0 has no balance";
    // What another program changed is the base of the next assignment only after a read.
    mixer_.SetValues(dev_, volume_, {65535, 0});
    mixer_.ClearCalls();
    controller.SetVolume(10);
    EXPECT_EQ(SetsOf(volume_), (std::vector<Values>{{6553, 6553}}));
}

TEST_F(SSVolumeControllerTest, EveryVolumeReadsBackAsItWasSetSoReadsDoNotLowerIt) {
    TssVolumeController controller(nullptr, mixer_);
    for (std::int32_t volume = 0; volume <= 100; ++volume) {
        controller.SetVolume(volume);
        ASSERT_EQ(controller.Volume(), volume);
    }
    // Read, then assign the balance: the volume sent with it stays 50.
    controller.SetVolume(50);
    for (int i = 0; i < 10; ++i) {
        controller.SetBalance(controller.Balance() == 0 ? 10 : 0);
    }
    EXPECT_EQ(SetsOf(volume_).back(), (Values{32767, 32767}));
    for (std::int32_t balance = -100; balance <= 100; ++balance) {
        controller.SetBalance(balance);
        ASSERT_EQ(controller.Balance(), balance);
        ASSERT_EQ(controller.Volume(), 50);
    }
}

TEST_F(SSVolumeControllerTest, OutOfRangeAssignmentsSendNothingAndKeepTheValues) {
    TssVolumeController controller(nullptr, mixer_);
    controller.SetVolume(70);
    controller.SetBalance(-20);
    mixer_.ClearCalls();
    controller.SetVolume(101);
    controller.SetVolume(-1);
    controller.SetBalance(150);
    controller.SetBalance(-101);
    EXPECT_TRUE(mixer_.CallsOf(Kind::SetControlDetails).empty());
    EXPECT_EQ(controller.Volume(), 70);
    EXPECT_EQ(controller.Balance(), -20);
}

TEST_F(SSVolumeControllerTest, MuteReachesOnlyTheMuteControl) {
    TssVolumeController controller(nullptr, mixer_);
    mixer_.ClearCalls();
    controller.SetMute(true);
    controller.SetMute(false);
    EXPECT_EQ(SetsOf(mute_), (std::vector<Values>{{1}, {0}}));
    EXPECT_TRUE(SetsOf(volume_).empty());
    EXPECT_EQ(mixer_.Calls().size(), 2u);
}

TEST_F(SSVolumeControllerTest, LowestOfSeveralControlsOfATypeWins) {
    const std::uint32_t second =
        mixer_.AddControl(dev_, speakers_, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t secondMute =
        mixer_.AddControl(dev_, speakers_, MIXERCONTROL_CONTROLTYPE_MUTE);
    TssVolumeController controller(nullptr, mixer_);
    controller.SetVolume(100);
    EXPECT_EQ(SetsOf(volume_).size(), 1u);
    EXPECT_TRUE(SetsOf(second).empty());
    EXPECT_TRUE(SetsOf(secondMute).empty());
}

TEST(SSVolumeControllerManyControlsTest, VolumeAndMuteOfALineWithMoreThan31AreFetchedByType) {
    // A speaker line with 40 controls; its volume and mute come late.
    SimulatedMixerDevice mixer;
    const std::uint32_t dev = mixer.AddDevice("Big card");
    const std::uint32_t line = mixer.AddDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "S");
    for (int i = 0; i < 38; ++i) {
        mixer.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_BOOLEAN);
    }
    const std::uint32_t volume = mixer.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mute = mixer.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_MUTE);

    TssVolumeController controller(nullptr, mixer);
    const auto requests = mixer.CallsOf(Kind::GetLineControls);
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.flags, MIXER_GETLINECONTROLSF_ONEBYTYPE);
        EXPECT_EQ(request.controls.cControls, 1u);
        EXPECT_EQ(request.controls.dwLineID, line);
    }
    EXPECT_EQ(requests[0].controls.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(requests[1].controls.dwControlType, MIXERCONTROL_CONTROLTYPE_MUTE);
    controller.SetVolume(50);
    EXPECT_EQ(mixer.Values(dev, volume), (Values{32767, 32767}));
    const auto sets = mixer.CallsOf(Kind::SetControlDetails);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].details.dwControlID, mute);
}

TEST_F(SSVolumeControllerTest, WithoutADeviceValuesAreKeptAndTheSpeakersFoundWhenTheyAppear) {
    SimulatedMixerDevice empty;
    TssVolumeController controller(nullptr, empty);
    EXPECT_FALSE(controller.HasVolumeControl());
    controller.SetVolume(30);
    controller.SetBalance(-100);
    EXPECT_EQ(controller.Volume(), 30);
    EXPECT_EQ(controller.Balance(), -100);
    EXPECT_TRUE(empty.CallsOf(Kind::SetControlDetails).empty());
    EXPECT_TRUE(empty.CallsOf(Kind::GetControlDetails).empty());

    // The sound server starts: the next assignment finds the speakers, unmutes, then sends.
    const std::uint32_t dev = empty.AddDevice("Late");
    const std::uint32_t line = empty.AddDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "S");
    const std::uint32_t volume = empty.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mute = empty.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_MUTE);
    empty.SetValues(dev, mute, {1});
    empty.ClearCalls();
    controller.SetVolume(20);
    const auto sets = empty.CallsOf(Kind::SetControlDetails);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].details.dwControlID, mute);
    EXPECT_EQ(sets[0].values, Values{0});
    EXPECT_EQ(sets[1].details.dwControlID, volume);
    EXPECT_EQ(sets[1].values, (Values{13107, 0}));
    EXPECT_EQ(empty.CallsOf(Kind::Open).size(), 1u);
}

TEST(SSVolumeControllerOneVolumeTest, DeviceWithOneVolumeForBothChannelsHasNoBalance) {
    SimulatedMixerDevice mixer;
    const std::uint32_t dev = mixer.AddDevice("Mono volume");
    const std::uint32_t line = mixer.AddDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "S");
    const std::uint32_t volume =
        mixer.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLF_UNIFORM);
    TssVolumeController controller(nullptr, mixer);
    controller.SetVolume(100);
    controller.SetBalance(-50);
    // The device keeps the louder of the two levels it was given.
    EXPECT_EQ(mixer.Values(dev, volume), Values{65535});
    EXPECT_EQ(controller.Volume(), 100);
    EXPECT_EQ(controller.Balance(), 0);
}

TEST(SSVolumeControllerNoMuteTest, SpeakerLineWithOnlyAVolumeIsNotSearchedAgain) {
    SimulatedMixerDevice mixer;
    const std::uint32_t dev = mixer.AddDevice("No mute");
    const std::uint32_t line = mixer.AddDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "S");
    const std::uint32_t volume = mixer.AddControl(dev, line, MIXERCONTROL_CONTROLTYPE_VOLUME);
    TssVolumeController controller(nullptr, mixer);
    mixer.ClearCalls();
    controller.SetMute(true);
    controller.SetVolume(100);
    ASSERT_EQ(mixer.Calls().size(), 1u);
    EXPECT_EQ(mixer.Calls()[0].details.dwControlID, volume);
    EXPECT_TRUE(controller.Mute());
}

TEST_F(SSVolumeControllerTest, FailedReadKeepsTheStoredValues) {
    TssVolumeController controller(nullptr, mixer_);
    controller.SetVolume(64);
    mixer_.FailNext(Kind::GetControlDetails, MMSYSERR_ERROR);
    EXPECT_EQ(controller.Volume(), 64);
}

TEST_F(SSVolumeControllerTest, DestructionLeavesTheSpeakersAsTheyAreAndClosesTheHandle) {
    {
        TssVolumeController controller(nullptr, mixer_);
        controller.SetVolume(80);
        controller.SetMute(true);
        mixer_.ClearCalls();
    }
    ASSERT_EQ(mixer_.Calls().size(), 1u);
    EXPECT_EQ(mixer_.Calls()[0].kind, Kind::Close);
    EXPECT_EQ(mixer_.Calls()[0].result, MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Values(dev_, volume_), (Values{52428, 52428}));
    EXPECT_EQ(mixer_.Values(dev_, mute_), Values{1});
}

}  // namespace
}  // namespace velmora
