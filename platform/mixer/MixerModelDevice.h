#pragma once

#include "platform/mixer/MixerDevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <span>
#include <string_view>
#include <vector>

namespace velmora {

// Copies a name into a fixed record field, shortened to fit and always terminated.
template <std::size_t N>
void CopyName(char (&to)[N], std::string_view from) {
    const std::size_t n = std::min(from.size(), N - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// A mixer device described as a tree: destinations, the sources of each, and the controls of
// every line.
struct MixerModel {
    struct Control {
        MIXERCONTROL control;
        // List controls: one entry per item.
        std::vector<MIXERCONTROLDETAILS_LISTTEXT> listTexts;
    };
    struct Line {
        MIXERLINE line;
        std::vector<Control> controls;
    };
    struct Destination {
        Line line;
        std::vector<Line> sources;
    };

    MIXERCAPS caps;
    std::vector<Destination> destinations;

    // Fills the sizes, indexes, counts and the source flag of every record from the tree.
    void Normalize();

    const Line* FindLine(std::uint32_t lineId) const;
    // The control and the line that holds it, or {nullptr, nullptr}.
    std::pair<const Line*, const Control*> FindControl(std::uint32_t controlId) const;
};

// The mixer calls implemented once over a model, for every backend: the checks of the records,
// the queries by index, identifier and type, list texts, values spread over channels and items,
// the handles and the delivery of notifications to them. A backend supplies the model and reads
// and writes the values of its controls.
//
// Channels of a value request: a request for one channel sets every channel of the control to
// its value and reads the largest of them. A request for fewer channels than the line has gives
// the further channels the largest value given; values beyond the line's channels are folded
// into its last channel (the largest wins) and read as the last channel's value. Values beyond a
// control's bounds are limited to them; booleans are 0 or 1; a multiplexer takes exactly one
// selected item per channel.
class MixerModelDevice : public MixerDevice {
public:
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

    // Channels a control holds values for: 1 for a uniform control, else the line's channels.
    static std::uint32_t ControlChannels(const MixerModel::Line& line,
                                         const MixerModel::Control& control);
    // Items of a control: its multiple-item count for a multiple-item control, else 1.
    static std::uint32_t ControlItems(const MixerModel::Control& control);

protected:
    virtual std::uint32_t DeviceCount() = 0;
    // Whether a device identifier names a device whose model can be asked for; by default the
    // devices that are there now.
    virtual bool DeviceKnown(std::uint32_t deviceId) { return deviceId < DeviceCount(); }
    // The current description of a device, or null when it cannot be had now.
    virtual const MixerModel* Model(std::uint32_t deviceId) = 0;
    // The values of a control: ControlItems x ControlChannels, item by item, the channels of
    // one item next to each other.
    virtual MMRESULT ReadValues(std::uint32_t deviceId, const MixerModel::Line& line,
                                const MixerModel::Control& control,
                                std::span<std::uint32_t> values) = 0;
    virtual MMRESULT WriteValues(std::uint32_t deviceId, const MixerModel::Line& line,
                                 const MixerModel::Control& control,
                                 std::span<const std::uint32_t> values) = 0;

    // Delivers a notification to every handle open on `deviceId` with a callback.
    void Notify(std::uint32_t deviceId, std::uint32_t message, std::uint32_t id);
    bool HasOpenHandles() const { return !handles_.empty(); }

private:
    struct Handle {
        std::uint32_t deviceId;
        MixerCallback callback;
    };

    // What a control details request addresses.
    struct DetailsTarget {
        std::uint32_t device = 0;
        const MixerModel::Line* line = nullptr;
        const MixerModel::Control* control = nullptr;
        std::uint32_t items = 0;  // ControlItems of the control
    };

    MMRESULT Resolve(std::uint32_t mixer, std::uint32_t flags, std::uint32_t* deviceId);
    // The device `mixer` names and its model.
    MMRESULT ResolveModel(std::uint32_t mixer, std::uint32_t flags, std::uint32_t* deviceId,
                          const MixerModel** model);
    // The control a details request names, whose item count the request must match.
    MMRESULT ResolveDetails(std::uint32_t mixer, const MIXERCONTROLDETAILS& details,
                            std::uint32_t flags, DetailsTarget* target);

    std::map<HMIXER, Handle> handles_;
    HMIXER nextHandle_ = 0x4D580001;  // apart from device identifiers
};

}  // namespace velmora
