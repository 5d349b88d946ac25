#pragma once

// Reading the server into a snapshot of the mixer model: the library's answers to the requests
// for the server, its sinks, sources and streams, and the conversions between the server's
// volumes and the model's levels. For the backends only (it includes the library's headers).

#include "platform/mixer/PulseMixerModel.h"

#include <pulse/pulseaudio.h>

#include <span>

namespace velmora::pulsemixer {

// The levels of an object as the model holds them: each channel with its side.
Levels LevelsOf(const pa_channel_map& map, const pa_cvolume& volume, int muted);

// The server's volume of every channel of `levels` for the values 0..65535 of one level, or of
// left and right.
pa_cvolume VolumeFor(const Levels& levels, std::span<const std::uint32_t> values);

// Whether two channel volumes are the same volume, channel by channel.
bool SameVolume(const pa_cvolume& a, const pa_cvolume& b);

// Callbacks of the requests, each adding what it is told to the Snapshot its data points to.
void OnServerInfo(pa_context*, const pa_server_info* info, void* snapshot);
void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* snapshot);
void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* snapshot);
void OnStreamInfo(pa_context*, const pa_sink_input_info* info, int eol, void* snapshot);

}  // namespace velmora::pulsemixer
