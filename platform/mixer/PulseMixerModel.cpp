#include "platform/mixer/PulseMixerModel.h"

#include "platform/pulse/PulseShared.h"
#include "platform/pulse/PulseVolume.h"

#include <algorithm>

namespace velmora::pulsemixer {
namespace {

std::uint32_t PortComponentType(PortType type) {
    switch (type) {
        case PortType::Microphone:
            return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
        case PortType::Line:
            return MIXERLINE_COMPONENTTYPE_SRC_LINE;
        case PortType::Digital:
            return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
        default:
            return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
    }
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

template <typename Item>
const Item* ByIndex(const std::vector<Item>& items, std::uint32_t index) {
    const auto found = std::find_if(items.begin(), items.end(),
                                    [index](const Item& item) { return item.index == index; });
    return found != items.end() ? &*found : nullptr;
}

}  // namespace

std::vector<std::uint32_t> Levels::Values(std::size_t count) const {
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

std::vector<std::uint32_t> Levels::ControlValues(bool muteControl, std::size_t count) const {
    return muteControl ? std::vector<std::uint32_t>{mute ? 1u : 0u} : Values(count);
}

std::vector<std::uint32_t> Levels::Volumes(std::span<const std::uint32_t> values) const {
    const std::uint32_t left = values[0];
    const std::uint32_t right = values.size() > 1 ? values[1] : values[0];
    std::vector<std::uint32_t> out(sides.size());
    for (std::size_t c = 0; c < sides.size(); ++c) {
        const std::uint32_t level = sides[c] == Side::Left    ? left
                                    : sides[c] == Side::Right ? right
                                                              : std::max(left, right);
        out[c] =
            PulseVolumeFromLevel(static_cast<std::uint16_t>(std::min<std::uint32_t>(level, 65535)));
    }
    return out;
}

const Snapshot::Sink* Snapshot::DefaultSink() const {
    for (const Sink& sink : sinks) {
        if (sink.name == defaultSink) {
            return &sink;
        }
    }
    return sinks.empty() ? nullptr : &sinks.front();
}

const Snapshot::Sink* Snapshot::SinkAt(std::uint32_t index) const {
    return ByIndex(sinks, index);
}

const Snapshot::Source* Snapshot::SourceAt(std::uint32_t index) const {
    return ByIndex(sources, index);
}

const Snapshot::Stream* Snapshot::StreamAt(std::uint32_t index) const {
    return ByIndex(streams, index);
}

const Snapshot::Stream* Snapshot::OwnStream() const {
    for (const Stream& stream : streams) {
        if (stream.client == ownClient) {
            return &stream;
        }
    }
    return nullptr;
}

MixerModel BuildModel(const Snapshot& snapshot) {
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
                const std::uint32_t type = PortComponentType(port.type);
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

std::optional<std::vector<std::uint32_t>> ControlValues(const Snapshot& snapshot,
                                                        const MixerModel::Line& line,
                                                        const MixerModel::Control& control,
                                                        const HeldLevels& held) {
    const std::uint32_t id = control.control.dwControlID;
    const std::uint32_t index = IndexOf(id);
    const bool isMute = control.control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE;
    const Levels* levels = nullptr;
    switch (KindOf(id)) {
        case kDefaultSinkVolume:
        case kDefaultSinkMute:
            if (const Snapshot::Sink* sink = snapshot.DefaultSink()) {
                levels = &sink->levels;
            }
            break;
        case kSinkVolume:
        case kSinkMute:
            if (const Snapshot::Sink* sink = snapshot.SinkAt(index)) {
                levels = &sink->levels;
            }
            break;
        case kOwnVolume:
        case kOwnMute:
            // The program's own level, playing or not (the stream itself is held at unity).
            if (isMute) {
                return std::vector<std::uint32_t>{held.mute ? 1u : 0u};
            }
            return std::vector<std::uint32_t>{held.volume & 0xFFFFu, held.volume >> 16};
        case kStreamVolume:
        case kStreamMute:
            if (const Snapshot::Stream* stream = snapshot.StreamAt(index)) {
                levels = &stream->levels;
            }
            break;
        case kSourceVolume:
        case kSourceMute:
            if (const Snapshot::Source* source = snapshot.SourceAt(index)) {
                levels = &source->levels;
            }
            break;
        case kSourceMux:
            if (const Snapshot::Source* source = snapshot.SourceAt(index)) {
                std::vector<std::uint32_t> selected(source->ports.size(), 0);
                if (source->active >= 0 &&
                    static_cast<std::size_t>(source->active) < selected.size()) {
                    selected[static_cast<std::size_t>(source->active)] = 1;
                }
                return selected;
            }
            break;
        default:
            break;
    }
    if (!levels) {
        return std::nullopt;
    }
    return levels->ControlValues(isMute, MixerModelDevice::ControlChannels(line, control));
}

Seen BuildSeen(const Snapshot& snapshot, const MixerModel& model, const HeldLevels& held) {
    Seen seen;
    const Snapshot::Sink* defaultSink = snapshot.DefaultSink();
    const auto values = [&](const MixerModel::Line& line, const MixerModel::Control& control) {
        return ControlValues(snapshot, line, control, held).value_or(std::vector<std::uint32_t>{});
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
            seen.controls[control.control.dwControlID] = values(destination.line, control);
        }
        for (const auto& source : destination.sources) {
            seen.lines[source.line.dwLineID] = {source.line.fdwLine, 0, source.line.szName};
            for (const auto& control : source.controls) {
                seen.controls[control.control.dwControlID] = values(source, control);
            }
        }
    }
    return seen;
}

void Differences(const Seen& before, const Seen& after, std::vector<std::uint32_t>& lines,
                 std::vector<std::uint32_t>& controls) {
    const auto diff = [](const auto& old, const auto& now, std::vector<std::uint32_t>& changed) {
        for (const auto& [id, value] : now) {
            const auto found = old.find(id);
            if (found == old.end() || found->second != value) {
                changed.push_back(id);
            }
        }
        for (const auto& [id, value] : old) {
            if (!now.contains(id)) {
                changed.push_back(id);
            }
        }
    };
    diff(before.lines, after.lines, lines);
    diff(before.controls, after.controls, controls);
}

}  // namespace velmora::pulsemixer
