#pragma once

#include "platform/mixer/MixerModelDevice.h"

#include <map>
#include <string>
#include <vector>

namespace velmora {

// A scriptable mixer: devices with destinations, sources and controls built by the test, control
// values kept in memory, failures on request, notifications sent on request, and a log of every
// call with the requests as they were given.
class SimulatedMixerDevice final : public MixerModelDevice {
public:
    enum class CallKind {
        GetNumDevs,
        Open,
        Close,
        GetDevCaps,
        GetLineInfo,
        GetLineControls,
        GetControlDetails,
        SetControlDetails
    };

    struct Call {
        CallKind kind;
        std::uint32_t mixer = 0;  // the device identifier or handle passed
        std::uint32_t flags = 0;
        MMRESULT result = MMSYSERR_NOERROR;
        bool callback = false;                   // Open: a callback was given
        MIXERLINE line{};                        // GetLineInfo: the request
        MIXERLINECONTROLS controls{};            // GetLineControls: the request
        MIXERCONTROLDETAILS details{};           // Get/SetControlDetails: the request
        std::vector<std::uint32_t> values{};     // values given (set) or returned (get)
        std::vector<std::uint32_t> listLines{};  // list texts returned: their first parameters
    };

    // --- Scripting. ---

    // A device with these capabilities (destinations are counted from the tree); its identifier.
    std::uint32_t AddDevice(const char* productName, std::uint16_t manufacturer = 1,
                            std::uint16_t product = 0, std::uint32_t driverVersion = 0x0100);
    // Line identifiers.
    std::uint32_t AddDestination(std::uint32_t device, std::uint32_t componentType,
                                 const char* name, std::uint32_t channels = 2);
    std::uint32_t AddSource(std::uint32_t device, std::uint32_t destination,
                            std::uint32_t componentType, const char* name,
                            std::uint32_t channels = 2);
    // A control on a line; its identifier. Volume-like controls get the bounds 0..65535,
    // switches and lists 0..1; `items` is the multiple-item count of a list (which is then
    // MULTIPLE, with list texts naming no line until SetListText).
    std::uint32_t AddControl(std::uint32_t device, std::uint32_t lineId, std::uint32_t controlType,
                             std::uint32_t flags = 0, std::uint32_t items = 0);
    void SetListText(std::uint32_t device, std::uint32_t controlId, std::uint32_t item,
                     std::uint32_t lineId, const char* name);

    // Another program changed the speaker levels and the device put them back.
    void TellLevelRestored() {
        if (levelRestored_) {
            levelRestored_();
        }
    }
    void SetLevelRestoredHandler(LevelRestoredHandler handler) override {
        levelRestored_ = std::move(handler);
    }
    // The speaker levels could not be put on the output (false), or hold again (true).
    void TellLevelHeld(bool held) {
        if (levelHeld_) {
            levelHeld_(held);
        }
    }
    void SetLevelHeldHandler(LevelHeldHandler handler) override { levelHeld_ = std::move(handler); }
    // The output the speakers stand for, as a server would name it.
    void SetSpeakerOutput(OutputIdentity output) { speakerOutput_ = std::move(output); }
    OutputIdentity SpeakerOutput() override { return speakerOutput_; }

    // Values of a control as ControlItems x ControlChannels (item by item).
    std::vector<std::uint32_t> Values(std::uint32_t device, std::uint32_t controlId) const;
    void SetValues(std::uint32_t device, std::uint32_t controlId,
                   std::vector<std::uint32_t> values);

    // Direct access to a device's tree (normalized again before each call).
    MixerModel& ModelOf(std::uint32_t device) { return devices_.at(device).model; }

    // The next `times` calls of `kind` fail with `result` and change nothing.
    void FailNext(CallKind kind, MMRESULT result, int times = 1);

    // Notifications to the handles open on a device, as the device would send them.
    void SendLineChange(std::uint32_t device, std::uint32_t lineId);
    void SendControlChange(std::uint32_t device, std::uint32_t controlId);

    // --- Inspection. ---
    const std::vector<Call>& Calls() const { return calls_; }
    std::vector<Call> CallsOf(CallKind kind) const;
    void ClearCalls() { calls_.clear(); }

    // --- The mixer calls, logged. ---
    std::uint32_t GetNumDevs() override;
    MMRESULT Open(HMIXER* mixer, std::uint32_t deviceId, MixerCallback callback,
                  std::uint32_t instance, std::uint32_t flags) override;
    MMRESULT Close(HMIXER mixer) override;
    MMRESULT GetDevCaps(std::uint32_t mixer, MIXERCAPS* caps, std::uint32_t capsSize) override;
    MMRESULT GetLineInfo(std::uint32_t mixer, MIXERLINE* line, std::uint32_t flags) override;
    MMRESULT GetLineControls(std::uint32_t mixer, MIXERLINECONTROLS* controls,
                             std::uint32_t flags) override;
    MMRESULT GetControlDetails(std::uint32_t mixer, MIXERCONTROLDETAILS* details,
                               std::uint32_t flags) override;
    MMRESULT SetControlDetails(std::uint32_t mixer, const MIXERCONTROLDETAILS* details,
                               std::uint32_t flags) override;

protected:
    std::uint32_t DeviceCount() override { return static_cast<std::uint32_t>(devices_.size()); }
    const MixerModel* Model(std::uint32_t deviceId) override;
    MMRESULT ReadValues(std::uint32_t deviceId, const MixerModel::Line& line,
                        const MixerModel::Control& control,
                        std::span<std::uint32_t> values) override;
    MMRESULT WriteValues(std::uint32_t deviceId, const MixerModel::Line& line,
                         const MixerModel::Control& control,
                         std::span<const std::uint32_t> values) override;

private:
    struct Device {
        MixerModel model;
        std::map<std::uint32_t, std::vector<std::uint32_t>> values;  // by control identifier
    };

    MixerModel::Line* FindLine(std::uint32_t device, std::uint32_t lineId);
    MixerModel::Control* FindControl(std::uint32_t device, std::uint32_t controlId);
    bool Failing(CallKind kind, Call& call);
    // Forwards a call unless a failure was asked for, and logs it with its result.
    template <typename Forward>
    MMRESULT Logged(Call& call, Forward forward);

    std::vector<Device> devices_;
    std::vector<Call> calls_;
    std::map<CallKind, std::pair<MMRESULT, int>> failures_;
    std::uint32_t nextLineId_ = 0x1000;
    std::uint32_t nextControlId_ = 0x100;
    LevelRestoredHandler levelRestored_;
    LevelHeldHandler levelHeld_;
    OutputIdentity speakerOutput_;
};

}  // namespace velmora
