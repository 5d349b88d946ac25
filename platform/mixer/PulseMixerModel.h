#pragma once

// The PulseAudio server as a mixer device, without the server: what a look at the server holds
// (a snapshot), the mixer tree built from it, the identifiers of its lines and controls, and the
// values its controls show. The transport (PulseMixerDevice) fills snapshots and sends values.

#include "platform/mixer/MixerModelDevice.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace velmora::pulsemixer {

// Identifiers: the kind of object in the high byte, the server's index of the object below.
enum LineKind : std::uint32_t {
    kDefaultSinkLine = 1,
    kSinkLine,
    kSourceLine,
    kOwnWaveLine,
    kStreamLine,
    kPortLine,
};
enum ControlKind : std::uint32_t {
    kDefaultSinkVolume = 1,
    kDefaultSinkMute,
    kSinkVolume,
    kSinkMute,
    kSourceVolume,
    kSourceMute,
    kSourceMux,
    kOwnVolume,
    kOwnMute,
    kStreamVolume,
    kStreamMute,
};
constexpr std::uint32_t kIndexLimit = 0x1000000;
constexpr std::uint32_t MakeId(std::uint32_t kind, std::uint32_t index) {
    return (kind << 24) | (index & (kIndexLimit - 1));
}
constexpr std::uint32_t KindOf(std::uint32_t id) {
    return id >> 24;
}
constexpr std::uint32_t IndexOf(std::uint32_t id) {
    return id & (kIndexLimit - 1);
}
// Port lines: the source's index and the port's position among its ports.
constexpr std::uint32_t kMaxPorts = 256;
constexpr std::uint32_t PortId(std::uint32_t source, std::uint32_t port) {
    return MakeId(kPortLine, source * kMaxPorts + port);
}
constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;

// Where a channel sounds; channels in the middle (centre, bass) belong to neither side.
enum class Side { Left, Right, Middle };

// The volume (the server's scale, 0x10000 = 100 %) and mute of a sink, source or stream, each
// channel with its side.
struct Levels {
    std::vector<Side> sides;
    std::vector<std::uint32_t> volumes;
    bool mute = false;

    // Channels as the mixer shows them: two (left, right) or one.
    std::uint32_t Channels() const { return sides.size() >= 2 ? 2 : 1; }
    // Levels 0..65535 for `count` channels (1: the largest; 2: left and right, a side without a
    // channel showing the largest).
    std::vector<std::uint32_t> Values(std::size_t count) const;
    // What a mute control (0 or 1) or a volume control (levels for `count` channels) holds.
    std::vector<std::uint32_t> ControlValues(bool muteControl, std::size_t count) const;
    // The server's volume of every channel for one level, or for left and right: a value for the
    // left reaches every channel on the left side, and so on; channels in the middle take the
    // larger of the two.
    std::vector<std::uint32_t> Volumes(std::span<const std::uint32_t> values) const;
};

// What a port is for, as far as the mixer tells it apart.
enum class PortType { Microphone, Line, Digital, Other };

// What the mixer needs to know of the server at one moment.
struct Snapshot {
    struct Sink {
        std::uint32_t index;
        std::string name;
        std::string description;
        Levels levels;
        // The server raises the output's volume to its loudest stream's ("flat volumes"), and a
        // stream's volume is then its volume at the output.
        bool flat = false;
    };
    struct Port {
        std::string name;
        std::string description;
        PortType type;
        bool unavailable;
    };
    struct Source {
        std::uint32_t index;
        std::string name;
        std::string description;
        bool monitor;
        Levels levels;
        std::vector<Port> ports;
        int active = -1;
    };
    struct Stream {
        std::uint32_t index;
        std::uint32_t sink;
        std::uint32_t client;
        std::string name;
        Levels levels;
        bool hasVolume;
        bool corked;
    };

    std::string serverName;
    std::string serverVersion;
    std::string defaultSink;  // empty: the first sink
    std::uint32_t ownClient = kNoIndex;
    std::vector<Sink> sinks;
    std::vector<Source> sources;
    std::vector<Stream> streams;

    const Sink* DefaultSink() const;
    const Sink* SinkAt(std::uint32_t index) const;
    const Source* SourceAt(std::uint32_t index) const;
    const Stream* StreamAt(std::uint32_t index) const;
    // This program's playback stream, if it plays.
    const Stream* OwnStream() const;
};

// The levels this program's wave output holds for its next sound, shown while it does not play.
struct HeldLevels {
    std::uint32_t volume = 0xFFFFFFFFu;  // low word left, high word right
    bool mute = false;
};

// The mixer tree: destination 0 the default sink ("speakers") with this program's wave output as
// its first source and the other programs' streams after it, then the other sinks with their
// streams, then the sources that are not monitors, with their ports as sources and a
// multiplexer to choose among them.
MixerModel BuildModel(const Snapshot& snapshot);

// The values a control of a tree shows for the server as the snapshot holds it: ControlItems x
// ControlChannels, or none when the snapshot does not hold the control's object.
std::optional<std::vector<std::uint32_t>> ControlValues(const Snapshot& snapshot,
                                                        const MixerModel::Line& line,
                                                        const MixerModel::Control& control,
                                                        const HeldLevels& held);

// What notifications compare: the flags, connection count and identity of every line and the
// values of every control.
struct Seen {
    std::map<std::uint32_t, std::tuple<std::uint32_t, std::uint32_t, std::string>> lines;
    std::map<std::uint32_t, std::vector<std::uint32_t>> controls;
};
Seen BuildSeen(const Snapshot& snapshot, const MixerModel& model, const HeldLevels& held);

// The lines and the controls whose state differs between two looks (new, changed or gone).
void Differences(const Seen& before, const Seen& after, std::vector<std::uint32_t>& lines,
                 std::vector<std::uint32_t>& controls);

}  // namespace velmora::pulsemixer
