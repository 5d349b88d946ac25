#include "platform/mixer/PulseMixerDevice.h"

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseShared.h"
#include "platform/pulse/PulseVolume.h"
#include "platform/sound/PulseSoundOutput.h"

#include <pulse/pulseaudio.h>

#include <QLoggingCategory>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

namespace velmora {

namespace {

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

constexpr char kDefaultSinkName[] = "@DEFAULT_SINK@";

enum class Side { Left, Right, Middle };

Side SideOf(pa_channel_position_t position) {
    switch (position) {
        case PA_CHANNEL_POSITION_FRONT_LEFT:
        case PA_CHANNEL_POSITION_REAR_LEFT:
        case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
        case PA_CHANNEL_POSITION_SIDE_LEFT:
        case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
        case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
            return Side::Left;
        case PA_CHANNEL_POSITION_FRONT_RIGHT:
        case PA_CHANNEL_POSITION_REAR_RIGHT:
        case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
        case PA_CHANNEL_POSITION_SIDE_RIGHT:
        case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
        case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
            return Side::Right;
        default:
            return Side::Middle;
    }
}

// The volume and mute of a sink, source or stream, each channel with its side.
struct Levels {
    std::vector<Side> sides;
    std::vector<pa_volume_t> volumes;
    bool mute = false;

    Levels() = default;
    Levels(const pa_channel_map& map, const pa_cvolume& volume, int muted) : mute(muted != 0) {
        for (unsigned c = 0; c < volume.channels && c < map.channels; ++c) {
            sides.push_back(SideOf(map.map[c]));
            volumes.push_back(volume.values[c]);
        }
    }

    // Channels as the mixer shows them: two (left, right) or one.
    std::uint32_t Channels() const { return sides.size() >= 2 ? 2 : 1; }

    // Levels 0..65535 for `count` channels (1: the largest; 2: left and right).
    std::vector<std::uint32_t> Values(std::size_t count) const {
        std::uint32_t left = 0;
        std::uint32_t right = 0;
        std::uint32_t all = 0;
        bool haveLeft = false;
        bool haveRight = false;
        for (std::size_t c = 0; c < sides.size(); ++c) {
            const std::uint32_t level = LevelFromPulseVolume(volumes[c]);
            all = std::max(all, level);
            if (sides[c] == Side::Left) {
                left = std::max(left, level);
                haveLeft = true;
            } else if (sides[c] == Side::Right) {
                right = std::max(right, level);
                haveRight = true;
            }
        }
        if (count == 1) {
            return {all};
        }
        return {haveLeft ? left : all, haveRight ? right : all};
    }

    // What a mute control (0 or 1) or a volume control (levels for `count` channels) holds.
    std::vector<std::uint32_t> ControlValues(bool muteControl, std::size_t count) const {
        return muteControl ? std::vector<std::uint32_t>{mute ? 1u : 0u} : Values(count);
    }

    // The server's volume for these channels from one level or from left and right.
    pa_cvolume Volume(std::span<const std::uint32_t> values) const {
        const auto level = [](std::uint32_t v) {
            return PulseVolumeFromLevel(
                static_cast<std::uint16_t>(std::min<std::uint32_t>(v, 65535)));
        };
        const std::uint32_t left = values[0];
        const std::uint32_t right = values.size() > 1 ? values[1] : values[0];
        pa_cvolume cv;
        pa_cvolume_init(&cv);
        cv.channels = static_cast<std::uint8_t>(sides.size());
        for (std::size_t c = 0; c < sides.size(); ++c) {
            cv.values[c] = level(sides[c] == Side::Left    ? left
                                 : sides[c] == Side::Right ? right
                                                           : std::max(left, right));
        }
        return cv;
    }
};

std::uint32_t PortComponentType(std::uint32_t type, const std::string& name) {
    if (type == PA_DEVICE_PORT_TYPE_MIC || type == PA_DEVICE_PORT_TYPE_HEADSET ||
        name.find("mic") != std::string::npos) {
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    }
    if (type == PA_DEVICE_PORT_TYPE_LINE || name.find("line") != std::string::npos) {
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    }
    if (type == PA_DEVICE_PORT_TYPE_SPDIF || type == PA_DEVICE_PORT_TYPE_HDMI) {
        return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
    }
    return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
}

MixerModel::Control MakeControl(std::uint32_t id, std::uint32_t type, std::uint32_t flags,
                                const char* name, std::uint32_t items = 0) {
    MixerModel::Control control;
    control.control.dwControlID = id;
    control.control.dwControlType = type;
    control.control.fdwControl = flags;
    control.control.cMultipleItems = items;
    CopyName(control.control.szShortName, name);
    CopyName(control.control.szName, name);
    const bool fader = type == MIXERCONTROL_CONTROLTYPE_VOLUME;
    control.control.Bounds.dwMaximum = fader ? 65535 : 1;
    control.control.Metrics.cSteps = fader ? 65535 : 0;
    return control;
}

MixerModel::Control VolumeControl(std::uint32_t id) {
    return MakeControl(id, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "Volume");
}

MixerModel::Control MuteControl(std::uint32_t id) {
    return MakeControl(id, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "Mute");
}

}  // namespace

// What the mixer needs to know of the server at one moment, copied out of the library's records.
struct PulseMixerDevice::Snapshot {
    struct Sink {
        std::uint32_t index;
        std::string name;
        std::string description;
        Levels levels;
    };
    struct Port {
        std::string name;
        std::string description;
        std::uint32_t type;
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
    std::string defaultSink;
    std::uint32_t ownClient = PA_INVALID_INDEX;
    std::vector<Sink> sinks;
    std::vector<Source> sources;
    std::vector<Stream> streams;

    const Sink* DefaultSink() const {
        for (const Sink& sink : sinks) {
            if (sink.name == defaultSink) {
                return &sink;
            }
        }
        return sinks.empty() ? nullptr : &sinks.front();
    }
    const Stream* OwnStream() const {
        for (const Stream& stream : streams) {
            if (stream.client == ownClient) {
                return &stream;
            }
        }
        return nullptr;
    }
};

struct PulseMixerDevice::Callbacks {
    static void OnServer(pa_context*, const pa_server_info* info, void* out) {
        auto* snapshot = static_cast<Snapshot*>(out);
        snapshot->serverName = info->server_name ? info->server_name : "";
        snapshot->serverVersion = info->server_version ? info->server_version : "";
        snapshot->defaultSink = info->default_sink_name ? info->default_sink_name : "";
    }

    static void OnSink(pa_context*, const pa_sink_info* info, int eol, void* out) {
        if (eol != 0 || !info) {
            return;
        }
        static_cast<Snapshot*>(out)->sinks.push_back(
            {info->index, info->name ? info->name : "", info->description ? info->description : "",
             Levels(info->channel_map, info->volume, info->mute)});
    }

    static void OnSource(pa_context*, const pa_source_info* info, int eol, void* out) {
        if (eol != 0 || !info) {
            return;
        }
        Snapshot::Source source{info->index,
                                info->name ? info->name : "",
                                info->description ? info->description : "",
                                info->monitor_of_sink != PA_INVALID_INDEX,
                                Levels(info->channel_map, info->volume, info->mute),
                                {}};
        for (std::uint32_t p = 0; p < info->n_ports && p < kMaxPorts; ++p) {
            const pa_source_port_info* port = info->ports[p];
            source.ports.push_back({port->name ? port->name : "",
                                    port->description ? port->description : "", port->type,
                                    port->available == PA_PORT_AVAILABLE_NO});
            if (port == info->active_port) {
                source.active = static_cast<int>(p);
            }
        }
        static_cast<Snapshot*>(out)->sources.push_back(std::move(source));
    }

    static void OnStream(pa_context*, const pa_sink_input_info* info, int eol, void* out) {
        if (eol != 0 || !info) {
            return;
        }
        const char* app =
            info->proplist ? pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME) : nullptr;
        std::string name = app ? app : "";
        if (info->name && *info->name) {
            name = name.empty() ? info->name : name + ": " + info->name;
        }
        static_cast<Snapshot*>(out)->streams.push_back(
            {info->index, info->sink, info->client, name,
             Levels(info->channel_map, info->volume, info->mute),
             info->has_volume != 0 && info->volume_writable != 0, info->corked != 0});
    }

    // Loop thread: a change on the server. Many arrive together; one look at the server on the
    // user interface thread answers all that came before it.
    static void OnSubscription(pa_context*, pa_subscription_event_type_t, std::uint32_t,
                               void* self) {
        Post(static_cast<PulseMixerDevice*>(self));
    }

    static void Post(PulseMixerDevice* mixer) {
        mixer->modelStale_ = true;
        if (!mixer->changePosted_.exchange(true)) {
            QMetaObject::invokeMethod(
                mixer->receiver_.get(), [mixer] { mixer->ProcessChanges(); }, Qt::QueuedConnection);
        }
    }

    // Loop thread (or the constructor, with the loop locked): a new context is ready.
    static void OnReady(PulseMixerDevice* mixer, pa_context* context) {
        pa_context_set_subscribe_callback(context, &Callbacks::OnSubscription, mixer);
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
            PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
        // The server may have come back: what it holds now is compared with what was seen.
        Post(mixer);
    }
};

PulseMixerDevice::PulseMixerDevice(PulseContext& pulse, PulseSoundOutput& sound)
    : pulse_(pulse), sound_(sound), receiver_(std::make_unique<QObject>()) {
    // A server that comes back gets the speaker levels of this program before its sound.
    sound_.SetBeforeResumeHandler([this] { RestoreSpeakers(); });
    std::unique_lock lock(pulse_.Loop());
    readyHandler_ =
        pulse_.AddReadyHandler([this](pa_context* context) { Callbacks::OnReady(this, context); });
}

PulseMixerDevice::~PulseMixerDevice() {
    sound_.SetBeforeResumeHandler({});
    {
        std::unique_lock lock(pulse_.Loop());
        pulse_.RemoveReadyHandler(readyHandler_);
        if (pulse_.Context()) {
            pa_context_set_subscribe_callback(pulse_.Context(), nullptr, nullptr);
        }
    }
    // Deleting the receiver drops what was posted to it and not yet delivered.
    receiver_.reset();
}

std::uint32_t PulseMixerDevice::DeviceCount() {
    return pulse_.Connect() ? 1 : 0;
}

MMRESULT PulseMixerDevice::Open(HMIXER* mixer, std::uint32_t deviceId, MixerCallback callback,
                                std::uint32_t instance, std::uint32_t flags) {
    const bool listening = (flags & CALLBACK_WINDOW) != 0 && callback;
    const MMRESULT result =
        MixerModelDevice::Open(mixer, deviceId, std::move(callback), instance, flags);
    if (result == MMSYSERR_NOERROR && listening && !seen_) {
        // The state that later notifications are compared with.
        if (auto snapshot = ReadSnapshot()) {
            model_ = BuildModel(*snapshot);
            modelStale_ = false;
            seen_ = BuildSeen(*snapshot, *model_);
        }
    }
    return result;
}

std::unique_ptr<PulseMixerDevice::Snapshot> PulseMixerDevice::ReadSnapshot() {
    std::unique_lock lock(pulse_.Loop());
    if (!pulse_.ConnectLocked(lock)) {
        return nullptr;
    }
    auto snapshot = std::make_unique<Snapshot>();
    pa_context* context = pulse_.Context();
    snapshot->ownClient = pa_context_get_index(context);
    pa_operation* operations[] = {
        pa_context_get_server_info(context, &Callbacks::OnServer, snapshot.get()),
        pa_context_get_sink_info_list(context, &Callbacks::OnSink, snapshot.get()),
        pa_context_get_source_info_list(context, &Callbacks::OnSource, snapshot.get()),
        pa_context_get_sink_input_info_list(context, &Callbacks::OnStream, snapshot.get()),
    };
    // All four are under way at once; once one fails the others are not waited for.
    bool complete = true;
    for (pa_operation* op : operations) {
        complete = pulse_.RunOperation(
                       lock, op,
                       complete ? PulseContext::kRequestTimeout : std::chrono::milliseconds(0)) &&
                   complete;
    }
    if (!complete) {
        return nullptr;
    }
    return snapshot;
}

MixerModel PulseMixerDevice::BuildModel(const Snapshot& snapshot) {
    MixerModel model;
    model.caps.vDriverVersion = DriverVersionOf(snapshot.serverVersion);
    CopyName(model.caps.szPname, snapshot.serverName);

    auto line = [&](std::uint32_t id, std::uint32_t type, std::uint32_t target,
                    const std::string& name, std::uint32_t channels, std::uint32_t flags) {
        MixerModel::Line result;
        result.line.dwLineID = id;
        result.line.dwComponentType = type;
        result.line.cChannels = channels;
        result.line.fdwLine = flags;
        CopyName(result.line.szShortName, name);
        CopyName(result.line.szName, name);
        result.line.Target.dwType = target;
        result.line.Target.vDriverVersion = model.caps.vDriverVersion;
        CopyName(result.line.Target.szPname, snapshot.serverName);
        return result;
    };
    auto streamsOf = [&](std::uint32_t sink, std::vector<MixerModel::Line>& sources) {
        for (const Snapshot::Stream& stream : snapshot.streams) {
            if (stream.sink != sink || stream.client == snapshot.ownClient ||
                stream.index >= kIndexLimit) {
                continue;
            }
            MixerModel::Line source =
                line(MakeId(kStreamLine, stream.index), MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
                     MIXERLINE_TARGETTYPE_WAVEOUT, stream.name, stream.levels.Channels(),
                     stream.corked ? 0 : MIXERLINE_LINEF_ACTIVE);
            if (stream.hasVolume) {
                source.controls.push_back(VolumeControl(MakeId(kStreamVolume, stream.index)));
            }
            source.controls.push_back(MuteControl(MakeId(kStreamMute, stream.index)));
            sources.push_back(std::move(source));
        }
    };

    const Snapshot::Sink* defaultSink = snapshot.DefaultSink();
    if (defaultSink) {
        MixerModel::Destination speakers;
        speakers.line = line(MakeId(kDefaultSinkLine, 0), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                             MIXERLINE_TARGETTYPE_WAVEOUT, defaultSink->description,
                             defaultSink->levels.Channels(), MIXERLINE_LINEF_ACTIVE);
        speakers.line.controls.push_back(VolumeControl(MakeId(kDefaultSinkVolume, 0)));
        speakers.line.controls.push_back(MuteControl(MakeId(kDefaultSinkMute, 0)));
        // This program's wave output, there whether or not it plays.
        const Snapshot::Stream* own = snapshot.OwnStream();
        MixerModel::Line wave = line(MakeId(kOwnWaveLine, 0), MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
                                     MIXERLINE_TARGETTYPE_WAVEOUT, "Wave", 2,
                                     own && !own->corked ? MIXERLINE_LINEF_ACTIVE : 0);
        wave.controls.push_back(VolumeControl(MakeId(kOwnVolume, 0)));
        wave.controls.push_back(MuteControl(MakeId(kOwnMute, 0)));
        speakers.sources.push_back(std::move(wave));
        streamsOf(defaultSink->index, speakers.sources);
        model.destinations.push_back(std::move(speakers));
    }
    for (const Snapshot::Sink& sink : snapshot.sinks) {
        if (&sink == defaultSink || sink.index >= kIndexLimit) {
            continue;
        }
        MixerModel::Destination destination;
        destination.line = line(MakeId(kSinkLine, sink.index), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                MIXERLINE_TARGETTYPE_WAVEOUT, sink.description,
                                sink.levels.Channels(), MIXERLINE_LINEF_ACTIVE);
        destination.line.controls.push_back(VolumeControl(MakeId(kSinkVolume, sink.index)));
        destination.line.controls.push_back(MuteControl(MakeId(kSinkMute, sink.index)));
        streamsOf(sink.index, destination.sources);
        model.destinations.push_back(std::move(destination));
    }
    for (const Snapshot::Source& source : snapshot.sources) {
        if (source.monitor || source.index >= kIndexLimit / kMaxPorts) {
            continue;
        }
        MixerModel::Destination destination;
        destination.line =
            line(MakeId(kSourceLine, source.index), MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
                 MIXERLINE_TARGETTYPE_WAVEIN, source.description, source.levels.Channels(),
                 MIXERLINE_LINEF_ACTIVE);
        destination.line.controls.push_back(VolumeControl(MakeId(kSourceVolume, source.index)));
        destination.line.controls.push_back(MuteControl(MakeId(kSourceMute, source.index)));
        if (!source.ports.empty()) {
            const auto items = static_cast<std::uint32_t>(source.ports.size());
            MixerModel::Control mux = MakeControl(
                MakeId(kSourceMux, source.index), MIXERCONTROL_CONTROLTYPE_MUX,
                MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, "Input", items);
            for (std::uint32_t p = 0; p < items; ++p) {
                const Snapshot::Port& port = source.ports[p];
                const std::uint32_t type = PortComponentType(port.type, port.name);
                MixerModel::Line portLine =
                    line(PortId(source.index, p), type, MIXERLINE_TARGETTYPE_WAVEIN,
                         port.description, source.levels.Channels(),
                         (static_cast<int>(p) == source.active ? MIXERLINE_LINEF_ACTIVE : 0) |
                             (port.unavailable ? MIXERLINE_LINEF_DISCONNECTED : 0));
                destination.sources.push_back(std::move(portLine));
                MIXERCONTROLDETAILS_LISTTEXT text;
                text.dwParam1 = PortId(source.index, p);
                text.dwParam2 = type;
                CopyName(text.szName, port.description);
                mux.listTexts.push_back(text);
            }
            destination.line.controls.push_back(std::move(mux));
        }
        model.destinations.push_back(std::move(destination));
    }
    model.Normalize();
    return model;
}

PulseMixerDevice::Seen PulseMixerDevice::BuildSeen(const Snapshot& snapshot,
                                                   const MixerModel& model) {
    Seen seen;
    const Snapshot::Sink* defaultSink = snapshot.DefaultSink();
    auto sinkOf = [&](std::uint32_t index) -> const Snapshot::Sink* {
        for (const auto& sink : snapshot.sinks) {
            if (sink.index == index) {
                return &sink;
            }
        }
        return nullptr;
    };
    auto valuesOf = [&](const MixerModel::Line& line, const MixerModel::Control& control) {
        const std::uint32_t id = control.control.dwControlID;
        const std::uint32_t index = IndexOf(id);
        const std::size_t channels = ControlChannels(line, control);
        const bool isMute = control.control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE;
        const Levels* levels = nullptr;
        switch (KindOf(id)) {
            case kDefaultSinkVolume:
            case kDefaultSinkMute:
                levels = defaultSink ? &defaultSink->levels : nullptr;
                break;
            case kSinkVolume:
            case kSinkMute:
                levels = sinkOf(index) ? &sinkOf(index)->levels : nullptr;
                break;
            case kOwnVolume:
            case kOwnMute:
                if (snapshot.OwnStream()) {
                    levels = &snapshot.OwnStream()->levels;
                    break;
                }
                // Not playing: the levels held for the next sound.
                if (isMute) {
                    bool mute = false;
                    sound_.GetPlaybackMute(&mute);
                    return std::vector<std::uint32_t>{mute ? 1u : 0u};
                } else {
                    std::uint32_t volume = 0;
                    sound_.GetVolume(0, &volume);
                    return std::vector<std::uint32_t>{volume & 0xFFFFu, volume >> 16};
                }
            case kStreamVolume:
            case kStreamMute:
                for (const auto& stream : snapshot.streams) {
                    if (stream.index == index) {
                        levels = &stream.levels;
                    }
                }
                break;
            default:
                for (const auto& source : snapshot.sources) {
                    if (source.index != index) {
                        continue;
                    }
                    if (KindOf(id) == kSourceMux) {
                        std::vector<std::uint32_t> selected(source.ports.size(), 0);
                        if (source.active >= 0) {
                            selected[static_cast<std::size_t>(source.active)] = 1;
                        }
                        return selected;
                    }
                    levels = &source.levels;
                }
        }
        if (!levels) {
            return std::vector<std::uint32_t>{};
        }
        return levels->ControlValues(isMute, channels);
    };
    for (const auto& destination : model.destinations) {
        const MIXERLINE& line = destination.line.line;
        // A destination changes when its sources come and go, and the speakers also when
        // another sink becomes the default.
        std::string identity = line.szName;
        if (KindOf(line.dwLineID) == kDefaultSinkLine && defaultSink) {
            identity += "#" + std::to_string(defaultSink->index);
        }
        seen.lines[line.dwLineID] = {line.fdwLine, line.cConnections, identity};
        for (const auto& control : destination.line.controls) {
            seen.controls[control.control.dwControlID] = valuesOf(destination.line, control);
        }
        for (const auto& source : destination.sources) {
            seen.lines[source.line.dwLineID] = {source.line.fdwLine, 0, source.line.szName};
            for (const auto& control : source.controls) {
                seen.controls[control.control.dwControlID] = valuesOf(source, control);
            }
        }
    }
    return seen;
}

void PulseMixerDevice::ProcessChanges() {
    changePosted_ = false;
    if (!HasOpenHandles()) {
        seen_.reset();
        return;
    }
    modelStale_ = false;
    const std::unique_ptr<Snapshot> snapshot = ReadSnapshot();
    if (!snapshot) {
        modelStale_ = true;
        return;
    }
    model_ = BuildModel(*snapshot);
    Seen now = BuildSeen(*snapshot, *model_);
    if (!seen_) {
        seen_ = std::move(now);
        return;
    }
    std::vector<std::uint32_t> lineChanges;
    std::vector<std::uint32_t> controlChanges;
    auto diff = [](const auto& before, const auto& after, std::vector<std::uint32_t>& changed) {
        for (const auto& [id, value] : after) {
            auto old = before.find(id);
            if (old == before.end() || old->second != value) {
                changed.push_back(id);
            }
        }
        for (const auto& [id, value] : before) {
            if (!after.contains(id)) {
                changed.push_back(id);
            }
        }
    };
    diff(seen_->lines, now.lines, lineChanges);
    diff(seen_->controls, now.controls, controlChanges);
    seen_ = std::move(now);
    for (std::uint32_t id : lineChanges) {
        Notify(0, MM_MIXM_LINE_CHANGE, id);
    }
    for (std::uint32_t id : controlChanges) {
        Notify(0, MM_MIXM_CONTROL_CHANGE, id);
    }
}

const MixerModel* PulseMixerDevice::Model(std::uint32_t deviceId) {
    if (deviceId != 0) {
        return nullptr;
    }
    if (modelStale_ || !model_) {
        modelStale_ = false;
        const std::unique_ptr<Snapshot> snapshot = ReadSnapshot();
        if (!snapshot) {
            modelStale_ = true;
            return model_ ? &*model_ : nullptr;
        }
        model_ = BuildModel(*snapshot);
    }
    return &*model_;
}

namespace {

// One request to the server, waited for: a read of one object into a snapshot of its own, or a
// set, whose success or failure comes back in its reply (a completed request is enough here).
template <typename Start>
bool RunRequest(PulseContext& pulse, Start start) {
    std::unique_lock lock(pulse.Loop());
    if (!pulse.ConnectLocked(lock)) {
        return false;
    }
    return pulse.RunOperation(lock, start(pulse.Context()));
}

}  // namespace

bool PulseMixerDevice::ReadSink(bool byDefault, std::uint32_t index, Snapshot& one) {
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return byDefault ? pa_context_get_sink_info_by_name(
                                                 c, kDefaultSinkName, &Callbacks::OnSink, &one)
                                           : pa_context_get_sink_info_by_index(
                                                 c, index, &Callbacks::OnSink, &one);
                      }) &&
           !one.sinks.empty();
}

bool PulseMixerDevice::ReadSource(std::uint32_t index, Snapshot& one) {
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return pa_context_get_source_info_by_index(c, index, &Callbacks::OnSource,
                                                                     &one);
                      }) &&
           !one.sources.empty();
}

bool PulseMixerDevice::ReadStream(std::uint32_t index, Snapshot& one) {
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return pa_context_get_sink_input_info(c, index, &Callbacks::OnStream,
                                                                &one);
                      }) &&
           !one.streams.empty();
}

MMRESULT PulseMixerDevice::ReadValues(std::uint32_t, const MixerModel::Line& line,
                                      const MixerModel::Control& control,
                                      std::span<std::uint32_t> values) {
    const std::uint32_t id = control.control.dwControlID;
    const std::uint32_t index = IndexOf(id);
    const std::size_t channels = ControlChannels(line, control);
    auto put = [&](const std::vector<std::uint32_t>& read) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = i < read.size() ? read[i] : (read.empty() ? 0 : read.back());
        }
        return MMSYSERR_NOERROR;
    };
    Snapshot one;
    switch (KindOf(id)) {
        case kOwnVolume: {
            std::uint32_t volume = 0;
            if (sound_.GetVolume(0, &volume) != MMSYSERR_NOERROR) {
                return MMSYSERR_ERROR;
            }
            return put({volume & 0xFFFFu, volume >> 16});
        }
        case kOwnMute: {
            bool mute = false;
            if (sound_.GetPlaybackMute(&mute) != MMSYSERR_NOERROR) {
                return MMSYSERR_ERROR;
            }
            return put({mute ? 1u : 0u});
        }
        case kDefaultSinkVolume:
        case kDefaultSinkMute:
        case kSinkVolume:
        case kSinkMute: {
            const bool byDefault =
                KindOf(id) == kDefaultSinkVolume || KindOf(id) == kDefaultSinkMute;
            if (!ReadSink(byDefault, index, one)) {
                return MIXERR_INVALCONTROL;
            }
            const bool mute = KindOf(id) == kDefaultSinkMute || KindOf(id) == kSinkMute;
            return put(one.sinks.front().levels.ControlValues(mute, channels));
        }
        case kSourceVolume:
        case kSourceMute:
        case kSourceMux: {
            if (!ReadSource(index, one)) {
                return MIXERR_INVALCONTROL;
            }
            const Snapshot::Source& source = one.sources.front();
            if (KindOf(id) == kSourceMux) {
                std::vector<std::uint32_t> selected(values.size(), 0);
                if (source.active >= 0 && static_cast<std::size_t>(source.active) < values.size()) {
                    selected[static_cast<std::size_t>(source.active)] = 1;
                }
                return put(selected);
            }
            return put(source.levels.ControlValues(KindOf(id) == kSourceMute, channels));
        }
        case kStreamVolume:
        case kStreamMute: {
            if (!ReadStream(index, one)) {
                return MIXERR_INVALCONTROL;
            }
            return put(
                one.streams.front().levels.ControlValues(KindOf(id) == kStreamMute, channels));
        }
        default:
            return MIXERR_INVALCONTROL;
    }
}

MMRESULT PulseMixerDevice::WriteValues(std::uint32_t, const MixerModel::Line&,
                                       const MixerModel::Control& control,
                                       std::span<const std::uint32_t> values) {
    const std::uint32_t id = control.control.dwControlID;
    const std::uint32_t index = IndexOf(id);
    const bool on = values[0] != 0;
    auto done = [](bool ok) { return ok ? MMSYSERR_NOERROR : MMSYSERR_ERROR; };
    Snapshot one;
    switch (KindOf(id)) {
        case kOwnVolume: {
            const std::uint32_t right = values.size() > 1 ? values[1] : values[0];
            return sound_.SetVolume(0, (values[0] & 0xFFFFu) | ((right & 0xFFFFu) << 16));
        }
        case kOwnMute:
            return sound_.SetPlaybackMute(on);
        case kDefaultSinkMute:
            speakerMute_ = on;
            return WriteDefaultSinkMute(on);
        case kSinkMute:
            return done(RunRequest(pulse_, [&](pa_context* c) {
                return pa_context_set_sink_mute_by_index(c, index, on, nullptr, nullptr);
            }));
        case kSourceMute:
            return done(RunRequest(pulse_, [&](pa_context* c) {
                return pa_context_set_source_mute_by_index(c, index, on, nullptr, nullptr);
            }));
        case kStreamMute:
            return done(RunRequest(pulse_, [&](pa_context* c) {
                return pa_context_set_sink_input_mute(c, index, on, nullptr, nullptr);
            }));
        case kDefaultSinkVolume:
            speakerVolume_.assign(values.begin(), values.end());
            return WriteSinkVolume(true, index, values);
        case kSinkVolume:
            return WriteSinkVolume(false, index, values);
        case kSourceVolume:
        case kSourceMux: {
            if (!ReadSource(index, one)) {
                return MIXERR_INVALCONTROL;
            }
            const Snapshot::Source& source = one.sources.front();
            if (KindOf(id) == kSourceVolume) {
                const pa_cvolume volume = source.levels.Volume(values);
                return done(RunRequest(pulse_, [&](pa_context* c) {
                    return pa_context_set_source_volume_by_index(c, index, &volume, nullptr,
                                                                 nullptr);
                }));
            }
            const auto selected = std::find(values.begin(), values.end(), 1u);
            const auto port = static_cast<std::size_t>(selected - values.begin());
            if (port >= source.ports.size()) {
                return MIXERR_INVALVALUE;
            }
            return done(RunRequest(pulse_, [&](pa_context* c) {
                return pa_context_set_source_port_by_index(
                    c, index, source.ports[port].name.c_str(), nullptr, nullptr);
            }));
        }
        case kStreamVolume: {
            if (!ReadStream(index, one)) {
                return MIXERR_INVALCONTROL;
            }
            const pa_cvolume volume = one.streams.front().levels.Volume(values);
            return done(RunRequest(pulse_, [&](pa_context* c) {
                return pa_context_set_sink_input_volume(c, index, &volume, nullptr, nullptr);
            }));
        }
        default:
            return MIXERR_INVALCONTROL;
    }
}

MMRESULT PulseMixerDevice::WriteSinkVolume(bool byDefault, std::uint32_t index,
                                           std::span<const std::uint32_t> values) {
    // The channel layout of the sink decides which channel takes which value.
    Snapshot one;
    if (!ReadSink(byDefault, index, one)) {
        return MIXERR_INVALCONTROL;
    }
    const pa_cvolume volume = one.sinks.front().levels.Volume(values);
    const std::uint32_t sink = one.sinks.front().index;
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return pa_context_set_sink_volume_by_index(c, sink, &volume, nullptr,
                                                                     nullptr);
                      })
               ? MMSYSERR_NOERROR
               : MMSYSERR_ERROR;
}

MMRESULT PulseMixerDevice::WriteDefaultSinkMute(bool on) {
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return pa_context_set_sink_mute_by_name(c, kDefaultSinkName, on, nullptr,
                                                                  nullptr);
                      })
               ? MMSYSERR_NOERROR
               : MMSYSERR_ERROR;
}

void PulseMixerDevice::RestoreSpeakers() {
    // Muting comes first and unmuting last, so nothing is heard at a level not yet restored.
    if (speakerMute_ && *speakerMute_) {
        WriteDefaultSinkMute(true);
    }
    if (!speakerVolume_.empty()) {
        WriteSinkVolume(true, 0, speakerVolume_);
    }
    if (speakerMute_ && !*speakerMute_) {
        WriteDefaultSinkMute(false);
    }
}

}  // namespace velmora
