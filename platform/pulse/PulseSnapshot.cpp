#include "platform/pulse/PulseSnapshot.h"

#include "platform/pulse/PulseVolume.h"

#include <algorithm>
#include <string>

namespace velmora::pulsemixer {

namespace {

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

PortType PortTypeOf(std::uint32_t type, const std::string& name) {
    if (type == PA_DEVICE_PORT_TYPE_MIC || type == PA_DEVICE_PORT_TYPE_HEADSET ||
        name.find("mic") != std::string::npos) {
        return PortType::Microphone;
    }
    if (type == PA_DEVICE_PORT_TYPE_LINE || name.find("line") != std::string::npos) {
        return PortType::Line;
    }
    if (type == PA_DEVICE_PORT_TYPE_SPDIF || type == PA_DEVICE_PORT_TYPE_HDMI) {
        return PortType::Digital;
    }
    return PortType::Other;
}

}  // namespace

Levels LevelsOf(const pa_channel_map& map, const pa_cvolume& volume, int muted) {
    Levels levels;
    levels.mute = muted != 0;
    for (unsigned c = 0; c < volume.channels && c < map.channels; ++c) {
        levels.sides.push_back(SideOf(map.map[c]));
        levels.volumes.push_back(volume.values[c]);
    }
    return levels;
}

pa_cvolume VolumeFor(const Levels& levels, std::span<const std::uint32_t> values) {
    const std::vector<std::uint32_t> volumes = levels.Volumes(values);
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = static_cast<std::uint8_t>(std::min<std::size_t>(volumes.size(), PA_CHANNELS_MAX));
    for (std::size_t c = 0; c < cv.channels; ++c) {
        cv.values[c] = volumes[c];
    }
    return cv;
}

bool SameVolume(const pa_cvolume& a, const pa_cvolume& b) {
    return std::equal(a.values, a.values + a.channels, b.values, b.values + b.channels,
                      SamePulseVolume);
}

void OnServerInfo(pa_context*, const pa_server_info* info, void* out) {
    auto* snapshot = static_cast<Snapshot*>(out);
    snapshot->serverName = info->server_name ? info->server_name : "";
    snapshot->serverVersion = info->server_version ? info->server_version : "";
    snapshot->defaultSink = info->default_sink_name ? info->default_sink_name : "";
}

void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* out) {
    if (eol != 0 || !info) {
        return;
    }
    static_cast<Snapshot*>(out)->sinks.push_back(
        {info->index, info->name ? info->name : "", info->description ? info->description : "",
         LevelsOf(info->channel_map, info->volume, info->mute),
         (info->flags & PA_SINK_FLAT_VOLUME) != 0});
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* out) {
    if (eol != 0 || !info) {
        return;
    }
    Snapshot::Source source{info->index,
                            info->name ? info->name : "",
                            info->description ? info->description : "",
                            info->monitor_of_sink != PA_INVALID_INDEX,
                            LevelsOf(info->channel_map, info->volume, info->mute),
                            {}};
    for (std::uint32_t p = 0; p < info->n_ports && p < kMaxPorts; ++p) {
        const pa_source_port_info* port = info->ports[p];
        const std::string name = port->name ? port->name : "";
        source.ports.push_back({name, port->description ? port->description : "",
                                PortTypeOf(port->type, name),
                                port->available == PA_PORT_AVAILABLE_NO});
        if (port == info->active_port) {
            source.active = static_cast<int>(p);
        }
    }
    static_cast<Snapshot*>(out)->sources.push_back(std::move(source));
}

void OnStreamInfo(pa_context*, const pa_sink_input_info* info, int eol, void* out) {
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
         LevelsOf(info->channel_map, info->volume, info->mute),
         info->has_volume != 0 && info->volume_writable != 0, info->corked != 0});
}

}  // namespace velmora::pulsemixer
