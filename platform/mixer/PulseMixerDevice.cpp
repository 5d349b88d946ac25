#include "platform/mixer/PulseMixerDevice.h"

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseShared.h"
#include "platform/pulse/PulseSnapshot.h"
#include "platform/pulse/PulseVolume.h"
#include "platform/sound/PulseLevelKeeper.h"
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

}  // namespace

struct PulseMixerDevice::Callbacks {
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
    // The speakers are this program's from now on: silent until it sets a level, so that nothing
    // is heard at a level nobody chose.
    sound_.Keeper().HoldSpeakers();
    std::unique_lock lock(pulse_.Loop());
    readyHandler_ = pulse_.AddReadyHandler([this](pa_context*) { Callbacks::Post(this); });
    changeHandler_ =
        pulse_.AddChangeHandler([this](std::uint32_t, std::uint32_t) { Callbacks::Post(this); });
}

void PulseMixerDevice::SetLevelRestoredHandler(LevelRestoredHandler handler) {
    sound_.Keeper().SetRestoredHandler(std::move(handler));
}

void PulseMixerDevice::SetLevelHeldHandler(LevelHeldHandler handler) {
    sound_.Keeper().SetHeldHandler(std::move(handler));
}

PulseMixerDevice::~PulseMixerDevice() {
    sound_.Keeper().SetRestoredHandler({});
    sound_.Keeper().SetHeldHandler({});
    {
        std::unique_lock lock(pulse_.Loop());
        pulse_.RemoveReadyHandler(readyHandler_);
        pulse_.RemoveChangeHandler(changeHandler_);
    }
    // Deleting the receiver drops what was posted to it and not yet delivered.
    receiver_.reset();
}

std::uint32_t PulseMixerDevice::DeviceCount() {
    // Before the connection is opened the server is taken to be there: its lines are the held
    // ones until then.
    if (!pulse_.Opened()) {
        return 1;
    }
    return pulse_.Connect() ? 1 : 0;
}

// The speakers and this program's wave output are held by the program itself, with or without a
// server: their controls take values while the server is away, and it gets them back.
bool PulseMixerDevice::DeviceKnown(std::uint32_t deviceId) {
    return deviceId == 0;
}

MixerModel PulseMixerDevice::HeldModel() {
    Snapshot held;
    Levels stereo;
    stereo.sides = {Side::Left, Side::Right};
    stereo.volumes = stereo.Volumes(sound_.Keeper().SpeakerValues());
    stereo.mute = sound_.Keeper().SpeakerMute();
    held.sinks.push_back({0, "", "Lautsprecher", stereo});
    return BuildModel(held);
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
            seen_ = BuildSeen(*snapshot, *model_, Held());
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
    pa_operation* operations[4] = {};
    pulse_.WithContext([&](pa_context* context) {
        snapshot->ownClient = pa_context_get_index(context);
        operations[0] = pa_context_get_server_info(context, &OnServerInfo, snapshot.get());
        operations[1] = pa_context_get_sink_info_list(context, &OnSinkInfo, snapshot.get());
        operations[2] = pa_context_get_source_info_list(context, &OnSourceInfo, snapshot.get());
        operations[3] = pa_context_get_sink_input_info_list(context, &OnStreamInfo, snapshot.get());
    });
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
    Seen now = BuildSeen(*snapshot, *model_, Held());
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
            // The server is away: the tree as it was last seen, or the held lines alone.
            modelStale_ = true;
            if (!model_) {
                model_ = HeldModel();
            }
            return &*model_;
        }
        model_ = BuildModel(*snapshot);
        if (!seen_ && HasOpenHandles()) {
            // The opening's look went unanswered: later notifications are compared with this one,
            // the first state a caller has read.
            seen_ = BuildSeen(*snapshot, *model_, Held());
        }
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
    return pulse.Request(lock, start);
}

// One set, waited for: true only when the server took it. `start` gets the context, the reply
// callback and its data.
template <typename Start>
bool RunSet(PulseContext& pulse, Start start) {
    std::unique_lock lock(pulse.Loop());
    if (!pulse.ConnectLocked(lock)) {
        return false;
    }
    return pulse.Set(lock, start);
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
                                     return byDefault ? pa_context_get_sink_info_by_name(
                                                            c, kDefaultSinkName, &OnSinkInfo, &one)
                                                      : pa_context_get_sink_info_by_index(
                                                            c, index, &OnSinkInfo, &one);
                                 }) &&
                      !one.sinks.empty();
    if (read || !byDefault) {
        return read;
    }
    // No default for a moment (the default output was removed and the server has not chosen
    // another yet): the first output stands in, as it does in the tree.
    Snapshot all;
    if (!RunRequest(
            pulse_,
            [&](pa_context* c) { return pa_context_get_sink_info_list(c, &OnSinkInfo, &all); }) ||
        all.sinks.empty()) {
        return false;
    }
    one.sinks.assign(1, all.sinks.front());
    return true;
}

bool PulseMixerDevice::ReadSource(std::uint32_t index, Snapshot& one) {
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return pa_context_get_source_info_by_index(c, index, &OnSourceInfo, &one);
                      }) &&
           !one.sources.empty();
}

bool PulseMixerDevice::ReadStream(std::uint32_t index, Snapshot& one) {
    return RunRequest(pulse_,
                      [&](pa_context* c) {
                          return pa_context_get_sink_input_info(c, index, &OnStreamInfo, &one);
                      }) &&
           !one.streams.empty();
}

HeldLevels PulseMixerDevice::Held() {
    HeldLevels held;
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
            if (!found) {
                // No server: the level held for it.
                const std::vector<std::uint32_t> held = sound_.Keeper().SpeakerValues();
                const bool mute = sound_.Keeper().SpeakerMute();
                for (std::size_t i = 0; i < values.size(); ++i) {
                    values[i] = KindOf(id) == kDefaultSinkMute ? (mute ? 1u : 0u)
                                                               : held[std::min(i, held.size() - 1)];
                }
                return MMSYSERR_NOERROR;
            }
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
        found ? ControlValues(one, line, control, Held()) : std::nullopt;
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
        case kDefaultSinkMute:
            return done(sound_.Keeper().SetSpeakers(sound_.Keeper().SpeakerValues(), on));
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
        case kDefaultSinkVolume:
            return done(sound_.Keeper().SetSpeakers({values.begin(), values.end()},
                                                    sound_.Keeper().SpeakerMute()));
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

}  // namespace velmora
