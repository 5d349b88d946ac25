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

using namespace pulsemixer;

namespace {

constexpr char kDefaultSinkName[] = "@DEFAULT_SINK@";

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
             LevelsOf(info->channel_map, info->volume, info->mute)});
    }

    static void OnSource(pa_context*, const pa_source_info* info, int eol, void* out) {
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
             LevelsOf(info->channel_map, info->volume, info->mute),
             info->has_volume != 0 && info->volume_writable != 0, info->corked != 0});
    }

    // Loop thread: a change on the server, or a new context (the server may have come back).
    // Many arrive together; one look at the server on the user interface thread answers all that
    // came before it.
    static void Post(PulseMixerDevice* mixer) {
        mixer->modelStale_ = true;
        if (!mixer->changePosted_.exchange(true)) {
            QMetaObject::invokeMethod(
                mixer->receiver_.get(), [mixer] { mixer->ProcessChanges(); }, Qt::QueuedConnection);
        }
    }
};

PulseMixerDevice::PulseMixerDevice(PulseContext& pulse, PulseSoundOutput& sound)
    : pulse_(pulse), sound_(sound), receiver_(std::make_unique<QObject>()) {
    // Every sound, also one that comes back with its server, plays only on an output that
    // holds the speaker levels of this program.
    sound_.SetSpeakerHandler([this] { return PutSpeakersOnDefault(); });
    std::unique_lock lock(pulse_.Loop());
    readyHandler_ = pulse_.AddReadyHandler([this](pa_context*) { Callbacks::Post(this); });
    changeHandler_ =
        pulse_.AddChangeHandler([this](std::uint32_t, std::uint32_t) { Callbacks::Post(this); });
}

void PulseMixerDevice::SetLevelRestoredHandler(LevelRestoredHandler handler) {
    levelRestored_ = std::move(handler);
}

PulseMixerDevice::~PulseMixerDevice() {
    sound_.SetSpeakerHandler({});
    {
        std::unique_lock lock(pulse_.Loop());
        pulse_.RemoveReadyHandler(readyHandler_);
        pulse_.RemoveChangeHandler(changeHandler_);
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
            seen_ = BuildSeen(*snapshot, *model_, Held(*snapshot));
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

void PulseMixerDevice::ProcessChanges() {
    changePosted_ = false;
    KeepSpeakers();
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
    Seen now = BuildSeen(*snapshot, *model_, Held(*snapshot));
    if (!seen_) {
        seen_ = std::move(now);
        return;
    }
    std::vector<std::uint32_t> lineChanges;
    std::vector<std::uint32_t> controlChanges;
    Differences(*seen_, now, lineChanges, controlChanges);
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

// One read of the server, waited for: one object into a snapshot of its own.
template <typename Start>
bool RunRequest(PulseContext& pulse, Start start) {
    std::unique_lock lock(pulse.Loop());
    if (!pulse.ConnectLocked(lock)) {
        return false;
    }
    return pulse.RunOperation(lock, start(pulse.Context()));
}

// One set, waited for: true only when the server took it. `start` gets the context, the reply
// callback and its data.
template <typename Start>
bool RunSet(PulseContext& pulse, Start start) {
    std::unique_lock lock(pulse.Loop());
    if (!pulse.ConnectLocked(lock)) {
        return false;
    }
    PulseContext::SetReply reply{&pulse};
    return pulse.RunSet(lock, start(pulse.Context(), &PulseContext::OnSetReply, &reply), reply);
}

}  // namespace

MixerDevice::OutputIdentity PulseMixerDevice::SpeakerOutput() {
    Snapshot one;
    if (!ReadSink(true, 0, one)) {
        return {};
    }
    return {one.sinks.front().name, one.sinks.front().description};
}

bool PulseMixerDevice::ReadSink(bool byDefault, std::uint32_t index, Snapshot& one) {
    const bool read = RunRequest(pulse_,
                                 [&](pa_context* c) {
                                     return byDefault
                                                ? pa_context_get_sink_info_by_name(
                                                      c, kDefaultSinkName, &Callbacks::OnSink, &one)
                                                : pa_context_get_sink_info_by_index(
                                                      c, index, &Callbacks::OnSink, &one);
                                 }) &&
                      !one.sinks.empty();
    if (read || !byDefault) {
        return read;
    }
    // No default for a moment (the default output was removed and the server has not chosen
    // another yet): the first output stands in, as it does in the tree.
    Snapshot all;
    if (!RunRequest(pulse_,
                    [&](pa_context* c) {
                        return pa_context_get_sink_info_list(c, &Callbacks::OnSink, &all);
                    }) ||
        all.sinks.empty()) {
        return false;
    }
    one.sinks.assign(1, all.sinks.front());
    return true;
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

HeldLevels PulseMixerDevice::Held(const Snapshot& snapshot) {
    HeldLevels held;
    if (snapshot.OwnStream()) {
        return held;  // playing: the snapshot has the stream's levels
    }
    sound_.GetVolume(0, &held.volume);
    sound_.GetPlaybackMute(&held.mute);
    return held;
}

MMRESULT PulseMixerDevice::ReadValues(std::uint32_t, const MixerModel::Line& line,
                                      const MixerModel::Control& control,
                                      std::span<std::uint32_t> values) {
    const std::uint32_t id = control.control.dwControlID;
    const std::uint32_t index = IndexOf(id);
    // One look at the control's own object, read the way a whole snapshot is.
    Snapshot one;
    bool found = true;
    switch (KindOf(id)) {
        case kOwnVolume:
        case kOwnMute:
            break;  // the output's own levels, held or playing
        case kDefaultSinkVolume:
        case kDefaultSinkMute:
            found = ReadSink(true, index, one);
            break;
        case kSinkVolume:
        case kSinkMute:
            found = ReadSink(false, index, one);
            break;
        case kSourceVolume:
        case kSourceMute:
        case kSourceMux:
            found = ReadSource(index, one);
            break;
        case kStreamVolume:
        case kStreamMute:
            found = ReadStream(index, one);
            break;
        default:
            return MIXERR_INVALCONTROL;
    }
    const std::optional<std::vector<std::uint32_t>> read =
        found ? ControlValues(one, line, control, Held(one)) : std::nullopt;
    if (!read) {
        return MIXERR_INVALCONTROL;
    }
    // Items not in the look (a port that came since the tree was built) are not selected;
    // channels not in it take the last channel's value.
    const bool items = KindOf(id) == kSourceMux;
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = i < read->size() ? (*read)[i] : (items || read->empty() ? 0 : read->back());
    }
    return MMSYSERR_NOERROR;
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
        case kDefaultSinkMute: {
            const bool audible = SpeakersAudible();
            speakerMute_ = on;
            return done(ChangeSpeakers(audible));
        }
        case kSinkMute:
            return done(RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                return pa_context_set_sink_mute_by_index(c, index, on, cb, data);
            }));
        case kSourceMute:
            return done(RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                return pa_context_set_source_mute_by_index(c, index, on, cb, data);
            }));
        case kStreamMute:
            return done(RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                return pa_context_set_sink_input_mute(c, index, on, cb, data);
            }));
        case kDefaultSinkVolume: {
            const bool audible = SpeakersAudible();
            speakerValues_.assign(values.begin(), values.end());
            return done(ChangeSpeakers(audible));
        }
        case kSinkVolume:
            return WriteSinkVolume(false, index, values);
        case kSourceVolume:
        case kSourceMux: {
            if (!ReadSource(index, one)) {
                return MIXERR_INVALCONTROL;
            }
            const Snapshot::Source& source = one.sources.front();
            if (KindOf(id) == kSourceVolume) {
                const pa_cvolume volume = VolumeFor(source.levels, values);
                return done(
                    RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                        return pa_context_set_source_volume_by_index(c, index, &volume, cb, data);
                    }));
            }
            const auto selected = std::find(values.begin(), values.end(), 1u);
            const auto port = static_cast<std::size_t>(selected - values.begin());
            if (port >= source.ports.size()) {
                return MIXERR_INVALVALUE;
            }
            return done(RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                return pa_context_set_source_port_by_index(
                    c, index, source.ports[port].name.c_str(), cb, data);
            }));
        }
        case kStreamVolume: {
            if (!ReadStream(index, one)) {
                return MIXERR_INVALCONTROL;
            }
            const pa_cvolume volume = VolumeFor(one.streams.front().levels, values);
            return done(RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                return pa_context_set_sink_input_volume(c, index, &volume, cb, data);
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
    const pa_cvolume volume = VolumeFor(one.sinks.front().levels, values);
    const std::uint32_t sink = one.sinks.front().index;
    return RunSet(pulse_,
                  [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
                      return pa_context_set_sink_volume_by_index(c, sink, &volume, cb, data);
                  })
               ? MMSYSERR_NOERROR
               : MMSYSERR_ERROR;
}

bool PulseMixerDevice::WriteSinkMute(std::uint32_t index, bool on) {
    return RunSet(pulse_, [&](pa_context* c, pa_context_success_cb_t cb, void* data) {
        return pa_context_set_sink_mute_by_index(c, index, on, cb, data);
    });
}

bool PulseMixerDevice::SpeakersAudible() const {
    return !speakerMute_ && std::any_of(speakerValues_.begin(), speakerValues_.end(),
                                        [](std::uint32_t value) { return value > 0; });
}

bool PulseMixerDevice::SinkHoldsSpeakers(const Levels& levels) const {
    const std::vector<std::uint32_t> wanted = levels.Volumes(speakerValues_);
    return levels.mute == speakerMute_ &&
           std::equal(wanted.begin(), wanted.end(), levels.volumes.begin(), levels.volumes.end(),
                      SamePulseVolume);
}

std::optional<std::string> PulseMixerDevice::PutSpeakersOnDefault() {
    Snapshot one;
    if (!ReadSink(true, 0, one)) {
        return std::nullopt;
    }
    const Snapshot::Sink sink = one.sinks.front();
    if (!SinkHoldsSpeakers(sink.levels)) {
        // Muting comes first and unmuting last, so nothing is heard at a level not yet in place;
        // by index, so that a default changing meanwhile is not given them half.
        if (speakerMute_ && !sink.levels.mute) {
            WriteSinkMute(sink.index, true);
        }
        WriteSinkVolume(false, sink.index, speakerValues_);
        if (!speakerMute_ && sink.levels.mute) {
            WriteSinkMute(sink.index, false);
        }
        Snapshot again;
        if (!ReadSink(false, sink.index, again) || !SinkHoldsSpeakers(again.sinks.front().levels)) {
            qCWarning(lcPulse) << "the output" << sink.name.c_str()
                               << "did not take the speaker levels";
            speakersHeld_ = false;
            return std::nullopt;
        }
    }
    NoteSpeakersHeld(sink.name);
    return sink.name;
}

bool PulseMixerDevice::ChangeSpeakers(bool audibleBefore) {
    const std::string playing = sound_.PlayingSink();
    if (playing.empty() || (!audibleBefore && !SpeakersAudible())) {
        return PutSpeakersOnDefault().has_value();
    }
    Snapshot one;
    if (ReadSink(true, 0, one) && one.sinks.front().name != playing) {
        return sound_.Replay();  // puts the levels on the new default before the sound goes there
    }
    return sound_.ChangeUnheard(audibleBefore,
                                [this] { return PutSpeakersOnDefault().has_value(); });
}

std::uint64_t PulseMixerDevice::Connection() {
    std::unique_lock lock(pulse_.Loop());
    return pulse_.Generation();
}

void PulseMixerDevice::NoteSpeakersHeld(const std::string& sink) {
    speakerSink_ = sink;
    speakerConnection_ = Connection();
    speakersHeld_ = true;
}

void PulseMixerDevice::KeepSpeakers() {
    Snapshot one;
    if (!ReadSink(true, 0, one)) {
        return;
    }
    const Snapshot::Sink& sink = one.sinks.front();
    const std::string playing = sound_.PlayingSink();
    if (!playing.empty() && playing != sink.name) {
        // Another output became the default (headphones plugged in, the old one removed, the
        // operator's choice): it gets the levels, then the sound.
        sound_.Replay();
        return;
    }
    if (SinkHoldsSpeakers(sink.levels)) {
        NoteSpeakersHeld(sink.name);
        return;
    }
    // Only a sink that held the levels on this same connection was changed by someone: a new
    // default output, or a server that came back, is given them without a word.
    const bool changedByAnother =
        speakersHeld_ && sink.name == speakerSink_ && speakerConnection_ == Connection();
    if (PutSpeakersOnDefault() && changedByAnother && levelRestored_) {
        levelRestored_();
    }
}

}  // namespace velmora
