#pragma once

#include "framework/Component.h"
#include "platform/mixer/MixerDevice.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

class TAudioMixer;

// Whether a list of `count` items has one at `index`: none at or beyond the count; a negative
// index is an error (std::out_of_range), as the lists of the mixer tree have always answered.
inline bool HasListItem(int index, std::size_t count) {
    if (index < 0) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    return static_cast<std::size_t>(index) < count;
}

// The controls of one line: one block of control records, fetched at construction.
class TMixerControls {
public:
    TMixerControls(TAudioMixer& mixer, const MIXERLINE& line);

    int Count() const { return static_cast<int>(block_.size()); }
    const MIXERCONTROL* Control(int index) const {
        return HasListItem(index, block_.size()) ? &block_[std::size_t(index)] : nullptr;
    }

private:
    std::vector<MIXERCONTROL> block_;  // empty when the controls could not be fetched
};

// One source line of a destination, with its controls.
class TMixerConnection {
public:
    TMixerConnection(TAudioMixer& mixer, const MIXERLINE& line);

    TAudioMixer& Mixer() const { return mixer_; }
    const MIXERLINE& Line() const { return line_; }
    const TMixerControls& Controls() const { return controls_; }

private:
    TAudioMixer& mixer_;
    MIXERLINE line_;
    TMixerControls controls_;
};

// The source lines of a destination.
class TMixerConnections {
public:
    TMixerConnections(TAudioMixer& mixer, const MIXERLINE& destination);

    int Count() const { return static_cast<int>(list_.size()); }
    TMixerConnection* Connection(int index) const {
        return HasListItem(index, list_.size()) ? list_[std::size_t(index)].get() : nullptr;
    }

private:
    TAudioMixer& mixer_;
    std::vector<std::unique_ptr<TMixerConnection>> list_;
};

// A destination line: its record, its connections and its controls.
class TMixerDestination {
public:
    TMixerDestination(TAudioMixer& mixer, const MIXERLINE& line);

    TAudioMixer& Mixer() const { return mixer_; }
    const MIXERLINE& Line() const { return line_; }
    const TMixerControls& Controls() const { return *controls_; }
    const TMixerConnections& Connections() const { return *connections_; }

private:
    TAudioMixer& mixer_;
    MIXERLINE line_;
    std::unique_ptr<TMixerConnections> connections_;
    std::unique_ptr<TMixerControls> controls_;
};

// The destinations of a device.
class TMixerDestinations {
public:
    void Add(std::unique_ptr<TMixerDestination> destination) {
        list_.push_back(std::move(destination));
    }
    int Count() const { return static_cast<int>(list_.size()); }
    TMixerDestination* Destination(int index) const {
        return HasListItem(index, list_.size()) ? list_[std::size_t(index)].get() : nullptr;
    }

private:
    std::vector<std::unique_ptr<TMixerDestination>> list_;
};

// A change notification: the mixer component, the device handle and the line or control.
using TMixerChange =
    std::function<void(TComponent* Sender, std::uint32_t MixerH, std::uint32_t ID)>;

// Mixer device model: opens one of the machine's mixer devices, describes it, builds the tree of
// its destination lines, their connections and every line's controls as they are at opening,
// sets the volume and mute (or recording selection) of any line, and relays the device's
// line-change and control-change notifications to OnLineChange and OnControlChange.
//
// The mixer is borrowed and must outlive the component. Notifications arrive through the
// component's own callback on the user interface thread while the device is open.
class TAudioMixer : public TComponent {
public:
    TAudioMixer(TComponent* owner, MixerDevice& mixer);
    ~TAudioMixer() override;

    std::uint32_t DriverVersion() const { return caps_.vDriverVersion; }
    std::uint16_t ProductId() const { return caps_.wPid; }
    std::int32_t NumberOfLine() const { return static_cast<std::int32_t>(caps_.cDestinations); }
    const QString& Manufacturer() const { return manufacturer_; }
    const QString& ProductName() const { return productName_; }
    std::int32_t MixerId() const { return mixerId_; }
    void SetMixerId(std::int32_t value);

    TMixerChange OnLineChange;
    TMixerChange OnControlChange;

    // Sets a line's volume (raw control units; left -1 leaves it, right -1 follows left) and its
    // mute, or for a connection without a mute control its selection in the destination's
    // multiplexer or mixer control (mute -1 leaves both). Connection -1 is the destination
    // itself. False when the destination or connection does not exist.
    bool SetLineVolume(std::int32_t destination, std::int32_t connection, std::int32_t left,
                       std::int32_t right, std::int32_t mute);

    // The tree; none before the first opening.
    const TMixerDestinations* Destinations() const { return destinations_.get(); }
    int DeviceCount() const { return deviceCount_; }

    // For the tree's classes.
    MixerDevice& Device() const { return mixer_; }
    HMIXER Handle() const { return handle_; }

private:
    void CloseMixer();
    void BuildDestinations();
    // The notification window's procedure.
    std::intptr_t WindowProc(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);

    MixerDevice& mixer_;
    int deviceCount_ = 0;
    std::unique_ptr<TMixerDestinations> destinations_;
    HMIXER handle_ = 0;
    std::int32_t mixerId_ = -1;
    MIXERCAPS caps_{};
    QString manufacturer_;
    QString productName_;
};

}  // namespace velmora
