#include "audio/AMixer.h"

#include "platform/mixer/SimulatedMixerDevice.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velmora {
namespace {

using Kind = SimulatedMixerDevice::CallKind;
using Values = std::vector<std::uint32_t>;

// Two devices. Device 0: speakers (volume, mute) with a wave source (volume, mute) and a CD
// source (volume only); recording with a multiplexer over microphone and line.
class AMixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        mixer_.AddDevice("Card", 1, 7, 0x0502);
        speakers_ = mixer_.AddDestination(0, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers");
        speakerVolume_ = mixer_.AddControl(0, speakers_, MIXERCONTROL_CONTROLTYPE_VOLUME);
        speakerMute_ = mixer_.AddControl(0, speakers_, MIXERCONTROL_CONTROLTYPE_MUTE,
                                         MIXERCONTROL_CONTROLF_UNIFORM);
        wave_ = mixer_.AddSource(0, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "Wave");
        waveVolume_ = mixer_.AddControl(0, wave_, MIXERCONTROL_CONTROLTYPE_VOLUME);
        waveMute_ = mixer_.AddControl(0, wave_, MIXERCONTROL_CONTROLTYPE_MUTE,
                                      MIXERCONTROL_CONTROLF_UNIFORM);
        cd_ = mixer_.AddSource(0, 0, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD");
        mixer_.AddControl(0, cd_, MIXERCONTROL_CONTROLTYPE_VOLUME);
        recording_ = mixer_.AddDestination(0, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording");
        mic_ = mixer_.AddSource(0, 1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", 1);
        line_ = mixer_.AddSource(0, 1, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line");
        mux_ = mixer_.AddControl(0, recording_, MIXERCONTROL_CONTROLTYPE_MUX,
                                 MIXERCONTROL_CONTROLF_UNIFORM, 2);
        mixer_.SetListText(0, mux_, 0, mic_, "Mic");
        mixer_.SetListText(0, mux_, 1, line_, "Line");
        mixer_.SetValues(0, mux_, {1, 0});
        mixer_.AddDevice("Second", 2, 9, 0x0100);
        mixer_.AddDestination(1, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Out");
    }

    SimulatedMixerDevice mixer_;
    std::uint32_t speakers_ = 0, speakerVolume_ = 0, speakerMute_ = 0, wave_ = 0, waveVolume_ = 0,
                  waveMute_ = 0, cd_ = 0, recording_ = 0, mic_ = 0, line_ = 0, mux_ = 0;
};

TEST_F(AMixerTest, ConstructionOpensDeviceZeroAndBuildsItsTree) {
    TAudioMixer audio(nullptr, mixer_);
    EXPECT_EQ(audio.MixerId(), 0);
    EXPECT_EQ(audio.DeviceCount(), 2);
    EXPECT_EQ(audio.Manufacturer(), QStringLiteral("Microsoft"));
    EXPECT_EQ(audio.ProductName(), QStringLiteral("Card"));
    EXPECT_EQ(audio.ProductId(), 7);
    EXPECT_EQ(audio.DriverVersion(), 0x0502u);
    EXPECT_EQ(audio.NumberOfLine(), 2);

    // Device count, open with notifications, capabilities; then per destination its record,
    // its connections (record, controls) and only then its own controls.
    std::vector<std::pair<Kind, std::uint32_t>> sequence;
    for (const auto& call : mixer_.Calls()) {
        sequence.emplace_back(call.kind, call.flags);
    }
    const std::vector<std::pair<Kind, std::uint32_t>> expected{
        {Kind::GetNumDevs, 0},
        {Kind::Open, CALLBACK_WINDOW},
        {Kind::GetDevCaps, 0},
        {Kind::GetLineInfo, MIXER_GETLINEINFOF_DESTINATION},
        {Kind::GetLineInfo, MIXER_GETLINEINFOF_SOURCE},
        {Kind::GetLineControls, MIXER_GETLINECONTROLSF_ALL},
        {Kind::GetLineInfo, MIXER_GETLINEINFOF_SOURCE},
        {Kind::GetLineControls, MIXER_GETLINECONTROLSF_ALL},
        {Kind::GetLineControls, MIXER_GETLINECONTROLSF_ALL},
        {Kind::GetLineInfo, MIXER_GETLINEINFOF_DESTINATION},
        {Kind::GetLineInfo, MIXER_GETLINEINFOF_SOURCE},
        {Kind::GetLineControls, MIXER_GETLINECONTROLSF_ALL},  // the microphone has none: fails
        {Kind::GetLineInfo, MIXER_GETLINEINFOF_SOURCE},
        {Kind::GetLineControls, MIXER_GETLINECONTROLSF_ALL},
        {Kind::GetLineControls, MIXER_GETLINECONTROLSF_ALL},
    };
    EXPECT_EQ(sequence, expected);
    EXPECT_TRUE(mixer_.Calls()[1].callback);

    const TMixerDestinations* tree = audio.Destinations();
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->Count(), 2);
    const TMixerDestination* speakers = tree->Destination(0);
    EXPECT_EQ(speakers->Line().dwLineID, speakers_);
    EXPECT_EQ(speakers->Controls().Count(), 2);
    ASSERT_EQ(speakers->Connections().Count(), 2);
    EXPECT_EQ(speakers->Connections().Connection(1)->Line().dwLineID, cd_);
    EXPECT_EQ(speakers->Connections().Connection(0)->Controls().Control(1)->dwControlID, waveMute_);
    EXPECT_EQ(tree->Destination(1)->Connections().Connection(0)->Controls().Count(), 0);
    EXPECT_EQ(tree->Destination(2), nullptr);
}

TEST_F(AMixerTest, OpeningTriesTwiceWithNotificationsThenWithout) {
    mixer_.FailNext(Kind::Open, MMSYSERR_ALLOCATED, 2);
    TAudioMixer audio(nullptr, mixer_);
    const auto opens = mixer_.CallsOf(Kind::Open);
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0].flags, CALLBACK_WINDOW);
    EXPECT_EQ(opens[1].flags, CALLBACK_WINDOW);
    EXPECT_EQ(opens[2].flags, 0u);
    EXPECT_FALSE(opens[2].callback);
    EXPECT_EQ(audio.MixerId(), 0);
    EXPECT_EQ(audio.Destinations()->Count(), 2);
}

TEST_F(AMixerTest, ADeviceThatCannotBeOpenedIsNoDevice) {
    mixer_.FailNext(Kind::Open, MMSYSERR_ALLOCATED, 3);
    TAudioMixer audio(nullptr, mixer_);
    EXPECT_EQ(audio.MixerId(), -1);
    ASSERT_NE(audio.Destinations(), nullptr);
    EXPECT_EQ(audio.Destinations()->Count(), 0);
    EXPECT_TRUE(audio.ProductName().isEmpty());
    EXPECT_FALSE(audio.SetLineVolume(0, 0, 100, 100, 0));
    EXPECT_TRUE(mixer_.CallsOf(Kind::GetDevCaps).empty());
}

TEST(AMixerNoDeviceTest, WithoutDevicesThereIsNothingToAddress) {
    SimulatedMixerDevice none;
    TAudioMixer audio(nullptr, none);
    EXPECT_EQ(audio.MixerId(), -1);
    ASSERT_NE(audio.Destinations(), nullptr);
    EXPECT_EQ(audio.Destinations()->Count(), 0);
    EXPECT_EQ(audio.NumberOfLine(), 0);
    EXPECT_FALSE(audio.SetLineVolume(0, -1, 1, 1, 1));
    audio.SetMixerId(0);
    EXPECT_EQ(none.Calls().size(), 1u) << "only the device count was asked";
}

TEST_F(AMixerTest, MixerIdSelectsAnotherDeviceAndIgnoresOnesThatDoNotExist) {
    TAudioMixer audio(nullptr, mixer_);
    mixer_.ClearCalls();
    audio.SetMixerId(5);
    audio.SetMixerId(-1);
    EXPECT_TRUE(mixer_.Calls().empty());
    EXPECT_EQ(audio.MixerId(), 0);

    audio.SetMixerId(1);
    ASSERT_GE(mixer_.Calls().size(), 2u);
    EXPECT_EQ(mixer_.Calls()[0].kind, Kind::Close);
    EXPECT_EQ(mixer_.Calls()[0].result, MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Calls()[1].kind, Kind::Open);
    EXPECT_EQ(mixer_.Calls()[1].mixer, 1u);
    EXPECT_EQ(audio.MixerId(), 1);
    EXPECT_EQ(audio.Manufacturer(), QStringLiteral("2 = Unknown"));
    EXPECT_EQ(audio.ProductName(), QStringLiteral("Second"));
    EXPECT_EQ(audio.Destinations()->Count(), 1);

    // The same device again: closed and opened anew.
    mixer_.ClearCalls();
    audio.SetMixerId(1);
    EXPECT_EQ(mixer_.Calls()[0].kind, Kind::Close);
    EXPECT_EQ(mixer_.Calls()[1].kind, Kind::Open);
}

TEST_F(AMixerTest, StartUpLevelOfTheFirstConnectionSetsVolumeThenMute) {
    TAudioMixer audio(nullptr, mixer_);
    mixer_.ClearCalls();
    EXPECT_TRUE(audio.SetLineVolume(0, 0, 100, 100, 0));
    const auto sets = mixer_.CallsOf(Kind::SetControlDetails);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].details.dwControlID, waveVolume_);
    EXPECT_EQ(sets[0].details.cChannels, 2u);
    EXPECT_EQ(sets[0].details.cMultipleItems, 0u);
    EXPECT_EQ(sets[0].details.cbDetails, 4u);
    EXPECT_EQ(sets[0].values, (Values{100, 100}));
    EXPECT_EQ(sets[1].details.dwControlID, waveMute_);
    EXPECT_EQ(sets[1].details.cChannels, 1u);
    EXPECT_EQ(sets[1].values, Values{0});
    EXPECT_EQ(mixer_.Calls().size(), 2u);
}

TEST_F(AMixerTest, DestinationItselfWithRightFollowingLeftAndMuteLeftAlone) {
    TAudioMixer audio(nullptr, mixer_);
    mixer_.ClearCalls();
    EXPECT_TRUE(audio.SetLineVolume(0, -1, 30000, -1, -1));
    ASSERT_EQ(mixer_.Calls().size(), 1u);
    EXPECT_EQ(mixer_.Calls()[0].details.dwControlID, speakerVolume_);
    EXPECT_EQ(mixer_.Calls()[0].values, (Values{30000, 30000}));
    EXPECT_EQ(mixer_.Values(0, speakerMute_), Values{0});

    // Volume left alone, mute only.
    mixer_.ClearCalls();
    EXPECT_TRUE(audio.SetLineVolume(0, -1, -1, 5, 1));
    ASSERT_EQ(mixer_.Calls().size(), 1u);
    EXPECT_EQ(mixer_.Calls()[0].details.dwControlID, speakerMute_);
}

TEST_F(AMixerTest, ConnectionWithoutMuteIsSelectedInTheDestinationsMultiplexer) {
    TAudioMixer audio(nullptr, mixer_);
    mixer_.ClearCalls();
    EXPECT_TRUE(audio.SetLineVolume(1, 1, -1, -1, 1));
    const auto& calls = mixer_.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, Kind::GetControlDetails);
    EXPECT_EQ(calls[0].flags, MIXER_GETCONTROLDETAILSF_VALUE);
    EXPECT_EQ(calls[0].details.dwControlID, mux_);
    EXPECT_EQ(calls[0].details.cChannels, 1u);
    EXPECT_EQ(calls[0].details.cMultipleItems, 2u);
    EXPECT_EQ(calls[0].values, (Values{1, 0}));
    EXPECT_EQ(calls[1].kind, Kind::GetControlDetails);
    EXPECT_EQ(calls[1].flags, MIXER_GETCONTROLDETAILSF_LISTTEXT);
    EXPECT_EQ(calls[1].details.cbDetails, 72u);
    EXPECT_EQ(calls[1].listLines, (Values{mic_, line_}));
    EXPECT_EQ(calls[2].kind, Kind::SetControlDetails);
    EXPECT_EQ(calls[2].values, (Values{0, 1}));
    EXPECT_EQ(mixer_.Values(0, mux_), (Values{0, 1}));
}

TEST_F(AMixerTest, ConnectionWithoutMuteOnADestinationWithoutSelectionChangesNothingElse) {
    TAudioMixer audio(nullptr, mixer_);
    mixer_.ClearCalls();
    // The CD has a volume but no mute, and the speakers have no selection control.
    EXPECT_TRUE(audio.SetLineVolume(0, 1, 2000, 3000, 1));
    ASSERT_EQ(mixer_.Calls().size(), 1u);
    EXPECT_EQ(mixer_.Calls()[0].values, (Values{2000, 3000}));
}

TEST_F(AMixerTest, MissingLinesGiveFalse) {
    TAudioMixer audio(nullptr, mixer_);
    mixer_.ClearCalls();
    EXPECT_FALSE(audio.SetLineVolume(2, -1, 1, 1, 1));
    EXPECT_FALSE(audio.SetLineVolume(0, 2, 1, 1, 1));
    EXPECT_FALSE(audio.SetLineVolume(-1, 0, 1, 1, 1));
    EXPECT_FALSE(audio.SetLineVolume(0, -2, 1, 1, 1));
    EXPECT_TRUE(mixer_.Calls().empty());
}

TEST_F(AMixerTest, LinesWhoseQueriesFailAreLeftOut) {
    mixer_.FailNext(Kind::GetLineInfo, MMSYSERR_ERROR);
    TAudioMixer audio(nullptr, mixer_);
    ASSERT_EQ(audio.Destinations()->Count(), 1);
    EXPECT_EQ(audio.Destinations()->Destination(0)->Line().dwLineID, recording_);
    // Destination 0 is now the recording line.
    EXPECT_TRUE(audio.SetLineVolume(0, 0, -1, -1, 1));
    EXPECT_EQ(mixer_.Values(0, mux_), (Values{1, 0}));
}

TEST(AMixerChannelsTest, ChannelsBeyondLeftAndRightTakeTheLargerOfThem) {
    SimulatedMixerDevice mixer;
    mixer.AddDevice("Surround");
    const std::uint32_t out =
        mixer.AddDestination(0, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "5.1", 6);
    const std::uint32_t volume = mixer.AddControl(0, out, MIXERCONTROL_CONTROLTYPE_VOLUME);
    TAudioMixer audio(nullptr, mixer);
    mixer.ClearCalls();
    EXPECT_TRUE(audio.SetLineVolume(0, -1, 1000, 4000, -1));
    ASSERT_EQ(mixer.Calls().size(), 1u);
    EXPECT_EQ(mixer.Calls()[0].details.cChannels, 6u);
    EXPECT_EQ(mixer.Values(0, volume), (Values{1000, 4000, 4000, 4000, 4000, 4000}));
}

TEST(AMixerChannelsTest, UniformVolumeTakesOneValue) {
    SimulatedMixerDevice mixer;
    mixer.AddDevice("One volume for both channels");
    const std::uint32_t out = mixer.AddDestination(0, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "S");
    const std::uint32_t volume =
        mixer.AddControl(0, out, MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLF_UNIFORM);
    TAudioMixer audio(nullptr, mixer);
    mixer.ClearCalls();
    EXPECT_TRUE(audio.SetLineVolume(0, -1, 1000, 4000, -1));
    ASSERT_EQ(mixer.Calls().size(), 1u);
    EXPECT_EQ(mixer.Calls()[0].details.cChannels, 1u);
    EXPECT_EQ(mixer.Values(0, volume), Values{1000});
}

TEST_F(AMixerTest, NotificationsGoToTheEventsWithTheHandleAndIdentifier) {
    TAudioMixer audio(nullptr, mixer_);
    const std::size_t lineQueries = mixer_.CallsOf(Kind::GetLineInfo).size();
    std::vector<std::tuple<TComponent*, std::uint32_t, std::uint32_t>> lines;
    std::vector<std::uint32_t> controls;
    mixer_.SendLineChange(0, wave_);  // unassigned: nothing happens
    audio.OnLineChange = [&](TComponent* sender, std::uint32_t h, std::uint32_t id) {
        lines.emplace_back(sender, h, id);
    };
    audio.OnControlChange = [&](TComponent*, std::uint32_t, std::uint32_t id) {
        controls.push_back(id);
    };
    mixer_.SendLineChange(0, wave_);
    mixer_.SendControlChange(0, speakerVolume_);
    mixer_.SendControlChange(1, 99);  // another device
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(std::get<0>(lines[0]), &audio);
    EXPECT_EQ(std::get<1>(lines[0]), audio.Handle());
    EXPECT_EQ(std::get<2>(lines[0]), wave_);
    EXPECT_EQ(controls, Values{speakerVolume_});
    // The tree is not rebuilt on a notification.
    EXPECT_EQ(mixer_.CallsOf(Kind::GetLineInfo).size(), lineQueries);
}

TEST_F(AMixerTest, DestructionClosesTheDeviceSoNoNotificationArrivesAfterwards) {
    int calls = 0;
    {
        TAudioMixer audio(nullptr, mixer_);
        audio.OnControlChange = [&](TComponent*, std::uint32_t, std::uint32_t) { ++calls; };
        mixer_.ClearCalls();
    }
    ASSERT_EQ(mixer_.Calls().size(), 1u);
    EXPECT_EQ(mixer_.Calls()[0].kind, Kind::Close);
    mixer_.SendControlChange(0, speakerVolume_);
    EXPECT_EQ(calls, 0);
}

TEST(MixerListTest, ItemsBeyondTheCountAreNoneAndNegativeIndexesAnError) {
    EXPECT_TRUE(HasListItem(1, 2));
    EXPECT_FALSE(HasListItem(2, 2));
    EXPECT_THROW(HasListItem(-1, 2), std::out_of_range);
}

}  // namespace
}  // namespace velmora
