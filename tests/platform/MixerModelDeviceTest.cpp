// The mixer calls as every backend gets them from MixerModelDevice, through the simulated device.

#include "platform/mixer/SimulatedMixerDevice.h"

#include "tests/support/MixerRequests.h"

#include <gtest/gtest.h>

#include <array>

namespace velmora {
namespace {

using Kind = SimulatedMixerDevice::CallKind;

class MixerModelDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dev_ = mixer_.AddDevice("Simulated mixer");
        speakers_ = mixer_.AddDestination(dev_, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers");
        speakerVolume_ = mixer_.AddControl(dev_, speakers_, MIXERCONTROL_CONTROLTYPE_VOLUME);
        speakerMute_ = mixer_.AddControl(dev_, speakers_, MIXERCONTROL_CONTROLTYPE_MUTE,
                                         MIXERCONTROL_CONTROLF_UNIFORM);
        wave_ = mixer_.AddSource(dev_, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "Wave");
        mixer_.AddControl(dev_, wave_, MIXERCONTROL_CONTROLTYPE_VOLUME);
        recording_ = mixer_.AddDestination(dev_, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording");
        mic_ = mixer_.AddSource(dev_, 1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", 1);
        line_ = mixer_.AddSource(dev_, 1, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line");
        mux_ = mixer_.AddControl(dev_, recording_, MIXERCONTROL_CONTROLTYPE_MUX,
                                 MIXERCONTROL_CONTROLF_UNIFORM, 2);
        mixer_.SetListText(dev_, mux_, 0, mic_, "Mic");
        mixer_.SetListText(dev_, mux_, 1, line_, "Line");
        mixer_.SetValues(dev_, mux_, {1, 0});
    }

    MMRESULT Set(std::uint32_t control, std::vector<std::uint32_t> values, std::uint32_t channels,
                 std::uint32_t items = 0) {
        const MIXERCONTROLDETAILS details =
            test::ValueRequest(control, channels, items, values.data());
        return mixer_.SetControlDetails(dev_, &details, 0);
    }

    std::vector<std::uint32_t> Get(std::uint32_t control, std::uint32_t channels,
                                   std::uint32_t items = 0) {
        std::vector<std::uint32_t> values(channels * std::max<std::uint32_t>(items, 1), 0xDEAD);
        MIXERCONTROLDETAILS details = test::ValueRequest(control, channels, items, values.data());
        EXPECT_EQ(mixer_.GetControlDetails(dev_, &details, 0), MMSYSERR_NOERROR);
        return values;
    }

    SimulatedMixerDevice mixer_;
    std::uint32_t dev_ = 0, speakers_ = 0, speakerVolume_ = 0, speakerMute_ = 0, wave_ = 0;
    std::uint32_t recording_ = 0, mic_ = 0, line_ = 0, mux_ = 0;
};

TEST_F(MixerModelDeviceTest, LinesAreFoundByIndexIdentifierAndType) {
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    line.dwDestination = 1;
    line.dwSource = 1;
    ASSERT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(line.dwLineID, line_);
    EXPECT_STREQ(line.szName, "Line");
    EXPECT_NE(line.fdwLine & MIXERLINE_LINEF_SOURCE, 0u);

    line = MIXERLINE{};
    line.cbStruct = sizeof line;
    line.dwDestination = 0;
    ASSERT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(line.dwLineID, speakers_);
    EXPECT_EQ(line.cConnections, 1u);
    EXPECT_EQ(line.cControls, 2u);

    line = MIXERLINE{};
    line.cbStruct = sizeof line;
    line.dwLineID = mic_;
    ASSERT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
    EXPECT_EQ(line.dwDestination, 1u);
    EXPECT_EQ(line.dwSource, 0u);
    EXPECT_EQ(line.cChannels, 1u);

    line = MIXERLINE{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    ASSERT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_NOERROR);
    EXPECT_EQ(line.dwLineID, recording_);
    EXPECT_EQ(line.cbStruct, sizeof line);
}

TEST_F(MixerModelDeviceTest, QueriesThatNameNoLineOrAreMalformedFail) {
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    line.dwDestination = 2;
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALPARAM);
    line.dwDestination = 0;
    line.dwSource = 1;
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_INVALPARAM);
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_HEADPHONES;
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_COMPONENTTYPE), MIXERR_INVALLINE);
    line.dwLineID = 0x7777;
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_LINEID), MIXERR_INVALLINE);
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, 9), MMSYSERR_INVALFLAG);
    line.cbStruct = sizeof line - 4;
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALPARAM);
    line.cbStruct = sizeof line;
    EXPECT_EQ(mixer_.GetLineInfo(1, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixer_.GetLineInfo(dev_, &line, MIXER_OBJECTF_HMIXER), MMSYSERR_INVALHANDLE);
}

TEST_F(MixerModelDeviceTest, HandlesAddressTheirDeviceUntilClosed) {
    HMIXER handle = 0;
    ASSERT_EQ(mixer_.Open(&handle, 0, {}, 0, 0), MMSYSERR_NOERROR);
    EXPECT_NE(handle, 0u);
    MIXERCAPS caps{};
    ASSERT_EQ(mixer_.GetDevCaps(handle, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Simulated mixer");
    EXPECT_EQ(caps.cDestinations, 2u);
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    EXPECT_EQ(mixer_.GetLineInfo(handle, &line, MIXER_OBJECTF_HMIXER), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Close(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Close(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixer_.GetLineInfo(handle, &line, MIXER_OBJECTF_HMIXER), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixer_.Open(&handle, 3, {}, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixer_.Open(&handle, 0, {}, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
}

TEST_F(MixerModelDeviceTest, AllControlsOnlyIntoExactlyAsManyRecords) {
    std::array<MIXERCONTROL, 3> records{};
    MIXERLINECONTROLS request{};
    request.cbStruct = sizeof request;
    request.dwLineID = speakers_;
    request.cControls = 3;
    request.cbmxctrl = sizeof(MIXERCONTROL);
    request.pamxctrl = records.data();
    EXPECT_EQ(mixer_.GetLineControls(dev_, &request, MIXER_GETLINECONTROLSF_ALL),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(records[2].dwControlID, 0u) << "nothing written past what was asked";
    request.cControls = 2;
    ASSERT_EQ(mixer_.GetLineControls(dev_, &request, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_NOERROR);
    EXPECT_EQ(records[0].dwControlID, speakerVolume_);
    EXPECT_EQ(records[1].dwControlID, speakerMute_);
    EXPECT_EQ(records[1].cbStruct, sizeof(MIXERCONTROL));

    records = {};
    request.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    request.cControls = 1;
    ASSERT_EQ(mixer_.GetLineControls(dev_, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMSYSERR_NOERROR);
    EXPECT_EQ(records[0].dwControlID, speakerMute_);
    request.dwControlType = MIXERCONTROL_CONTROLTYPE_MUX;
    EXPECT_EQ(mixer_.GetLineControls(dev_, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MIXERR_INVALCONTROL);

    request.dwLineID = 0;
    request.dwControlID = mux_;
    ASSERT_EQ(mixer_.GetLineControls(dev_, &request, MIXER_GETLINECONTROLSF_ONEBYID),
              MMSYSERR_NOERROR);
    EXPECT_EQ(request.dwLineID, recording_);
    EXPECT_EQ(records[0].cMultipleItems, 2u);
}

TEST_F(MixerModelDeviceTest, OneValueReachesEveryChannelAndReadsTheLargest) {
    ASSERT_EQ(Set(speakerVolume_, {30000}, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Values(dev_, speakerVolume_), (std::vector<std::uint32_t>{30000, 30000}));
    mixer_.SetValues(dev_, speakerVolume_, {100, 2000});
    EXPECT_EQ(Get(speakerVolume_, 1), (std::vector<std::uint32_t>{2000}));
    EXPECT_EQ(Get(speakerVolume_, 2), (std::vector<std::uint32_t>{100, 2000}));
    // Three asked of a two-channel line: the third reads as the last channel.
    EXPECT_EQ(Get(speakerVolume_, 3), (std::vector<std::uint32_t>{100, 2000, 2000}));
}

TEST_F(MixerModelDeviceTest, ExtraChannelsFoldIntoTheLastAndValuesAreLimited) {
    // A mono line given left and right keeps the larger.
    const std::uint32_t micVolume = mixer_.AddControl(dev_, mic_, MIXERCONTROL_CONTROLTYPE_VOLUME);
    ASSERT_EQ(Set(micVolume, {500, 700}, 2), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Values(dev_, micVolume), (std::vector<std::uint32_t>{700}));
    ASSERT_EQ(Set(speakerVolume_, {70000, 3}, 2), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Values(dev_, speakerVolume_), (std::vector<std::uint32_t>{65535, 3}));
    ASSERT_EQ(Set(speakerMute_, {5}, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer_.Values(dev_, speakerMute_), (std::vector<std::uint32_t>{1}));
}

TEST_F(MixerModelDeviceTest, MultiplexerTakesExactlyOneSourceAndNamesItsLines) {
    EXPECT_EQ(Set(mux_, {1, 1}, 1, 2), MIXERR_INVALVALUE);
    EXPECT_EQ(Set(mux_, {0, 0}, 1, 2), MIXERR_INVALVALUE);
    EXPECT_EQ(Set(mux_, {0, 1}, 1, 0), MMSYSERR_INVALPARAM) << "item count must be given";
    EXPECT_EQ(mixer_.Values(dev_, mux_), (std::vector<std::uint32_t>{1, 0}));
    ASSERT_EQ(Set(mux_, {0, 1}, 1, 2), MMSYSERR_NOERROR);
    EXPECT_EQ(Get(mux_, 1, 2), (std::vector<std::uint32_t>{0, 1}));

    std::array<MIXERCONTROLDETAILS_LISTTEXT, 2> texts{};
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = mux_;
    details.cChannels = 1;
    details.cMultipleItems = 2;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXT);
    details.paDetails = texts.data();
    ASSERT_EQ(mixer_.GetControlDetails(dev_, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT),
              MMSYSERR_NOERROR);
    EXPECT_EQ(texts[0].dwParam1, mic_);
    EXPECT_EQ(texts[0].dwParam2, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_STREQ(texts[1].szName, "Line");
    details.dwControlID = speakerVolume_;
    details.cMultipleItems = 0;
    EXPECT_EQ(mixer_.GetControlDetails(dev_, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT),
              MMSYSERR_INVALPARAM);
}

TEST_F(MixerModelDeviceTest, NotificationsReachTheHandlesThatAskedForThem) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
    HMIXER listening = 0;
    HMIXER silent = 0;
    HMIXER closing = 0;
    ASSERT_EQ(mixer_.Open(
                  &listening, 0,
                  [&](std::uint32_t message, HMIXER h, std::uint32_t id) {
                      EXPECT_EQ(h, listening);
                      seen.emplace_back(message, id);
                  },
                  0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_EQ(mixer_.Open(
                  &silent, 0, [&](std::uint32_t, HMIXER, std::uint32_t) { ADD_FAILURE(); }, 0, 0),
              MMSYSERR_NOERROR);
    int closingCalls = 0;
    ASSERT_EQ(mixer_.Open(
                  &closing, 0,
                  [&](std::uint32_t, HMIXER h, std::uint32_t) {
                      ++closingCalls;
                      mixer_.Close(h);
                  },
                  0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    mixer_.SendControlChange(dev_, speakerVolume_);
    mixer_.SendLineChange(dev_, wave_);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                        {MM_MIXM_CONTROL_CHANGE, speakerVolume_}, {MM_MIXM_LINE_CHANGE, wave_}}));
    EXPECT_EQ(closingCalls, 1);
}

TEST_F(MixerModelDeviceTest, ScriptedFailuresAreLoggedAndChangeNothing) {
    mixer_.FailNext(Kind::SetControlDetails, MMSYSERR_NOMEM);
    EXPECT_EQ(Set(speakerVolume_, {1234, 1234}, 2), MMSYSERR_NOMEM);
    EXPECT_EQ(mixer_.Values(dev_, speakerVolume_), (std::vector<std::uint32_t>{0, 0}));
    EXPECT_EQ(Set(speakerVolume_, {1234, 1234}, 2), MMSYSERR_NOERROR);
    const auto sets = mixer_.CallsOf(Kind::SetControlDetails);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].result, MMSYSERR_NOMEM);
    EXPECT_EQ(sets[0].values, (std::vector<std::uint32_t>{1234, 1234}));
    EXPECT_EQ(sets[1].details.dwControlID, speakerVolume_);
}

}  // namespace
}  // namespace velmora
