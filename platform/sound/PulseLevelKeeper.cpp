#include "platform/sound/PulseLevelKeeper.h"

#include "platform/pulse/PulseShared.h"
#include "platform/pulse/PulseSnapshot.h"
#include "platform/pulse/PulseVolume.h"

#include <pulse/pulseaudio.h>

#include <QLoggingCategory>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

namespace velmora {

using namespace pulsemixer;

namespace {

constexpr char kDefaultSinkName[] = "@DEFAULT_SINK@";

// Longer than any sound plus the time the server needs to play out its buffer.
constexpr std::chrono::milliseconds kDrainSlack{2000};

// After a fade-out has been taken by the server, this much more, for a resampler's tail.
constexpr std::chrono::milliseconds kFadeGuard{1};

std::int64_t FramesOf(std::chrono::milliseconds length, std::uint32_t rate) {
    return static_cast<std::int64_t>(length.count()) * rate / 1000;
}

// The amplitude of a channel at a level 0..65535: on the server's cubic scale, as the level
// sounded when it was the stream's volume.
double AmplitudeOf(std::uint32_t level) {
    const double volume =
        static_cast<double>(PulseVolumeFromLevel(static_cast<std::uint16_t>(level & 0xFFFFu))) /
        kPulseVolumeNorm;
    return volume * volume * volume;
}

Levels Stereo() {
    Levels levels;
    levels.sides = {Side::Left, Side::Right};
    return levels;
}

}  // namespace

// A look at the server from the loop thread: the default output, every output, and the stream.
struct PulseLevelKeeper::Check {
    PulseLevelKeeper* keeper = nullptr;
    std::uint64_t generation = 0;
    std::uint32_t stream = PA_INVALID_INDEX;
    int pending = 0;
    bool again = false;  // the server reported more while it was under way
    Snapshot snapshot;
};

// The sets that put the level back, from the loop thread.
struct PulseLevelKeeper::Fix {
    PulseLevelKeeper* keeper = nullptr;
    std::uint64_t generation = 0;
    int pending = 0;
    bool taken = true;  // every set answered as taken
};

struct PulseLevelKeeper::Callbacks {
    static void OnServer(pa_context* c, const pa_server_info* info, void* data) {
        auto* check = static_cast<Check*>(data);
        OnServerInfo(c, info, &check->snapshot);
        check->keeper->CheckAnswered(check);
    }
    static void OnSink(pa_context* c, const pa_sink_info* info, int eol, void* data) {
        auto* check = static_cast<Check*>(data);
        OnSinkInfo(c, info, eol, &check->snapshot);
        if (eol != 0) {
            check->keeper->CheckAnswered(check);
        }
    }
    static void OnStream(pa_context* c, const pa_sink_input_info* info, int eol, void* data) {
        auto* check = static_cast<Check*>(data);
        OnStreamInfo(c, info, eol, &check->snapshot);
        if (eol != 0) {
            check->keeper->CheckAnswered(check);
        }
    }
    static void OnSet(pa_context*, int success, void* data) {
        auto* fix = static_cast<Fix*>(data);
        fix->taken = fix->taken && success > 0;
        fix->keeper->FixAnswered(fix);
    }
};

PulseLevelKeeper::PulseLevelKeeper(PulseContext& pulse)
    : pulse_(pulse), receiver_(std::make_unique<QObject>()), resume_(std::make_unique<QTimer>()) {
    resume_->setInterval(kRetryInterval);
    QObject::connect(resume_.get(), &QTimer::timeout, resume_.get(), [this] { TryResume(); });
    std::unique_lock lock(pulse_.Loop());
    watchdog_ = std::make_unique<PulseContext::Timer>(pulse_, [this] { OnWatchdog(); });
    retry_ = std::make_unique<PulseContext::Timer>(pulse_, [this] {
        retryDue_ = true;
        ScheduleCheck();
    });
    settle_ = std::make_unique<PulseContext::Timer>(pulse_, [this] {
        settling_ = false;
        ScheduleCheck();
    });
    changeHandler_ = pulse_.AddChangeHandler(
        [this](std::uint32_t event, std::uint32_t index) { OnServerChange(event, index); });
    // A server that comes back (or starts late) gets the held level at once, sound or not.
    readyHandler_ = pulse_.AddReadyHandler([this](pa_context*) { ScheduleCheck(); });
}

PulseLevelKeeper::~PulseLevelKeeper() {
    {
        std::unique_lock lock(pulse_.Loop());
        pulse_.RemoveChangeHandler(changeHandler_);
        pulse_.RemoveReadyHandler(readyHandler_);
        operations_.CancelAll();
        check_.reset();
        fix_.reset();
        watchdog_.reset();
        retry_.reset();
        settle_.reset();
        StopLocked(lock, true);
        kept_.reset();
    }
    // Drops what was posted and not yet delivered.
    resume_.reset();
    receiver_.reset();
}

void PulseLevelKeeper::Post(std::function<void()> call) {
    QMetaObject::invokeMethod(receiver_.get(), std::move(call), Qt::QueuedConnection);
}

// ----- levels

bool PulseLevelKeeper::SpeakersAudible() const {
    return !speakersHeld_ ||
           (!speakerMute_ && std::any_of(speakerValues_.begin(), speakerValues_.end(),
                                         [](std::uint32_t value) { return value > 0; }));
}

std::array<double, 2> PulseLevelKeeper::ChannelGains() const {
    if (playbackMute_) {
        return {0.0, 0.0};
    }
    return {AmplitudeOf(playbackVolume_ & 0xFFFFu), AmplitudeOf(playbackVolume_ >> 16)};
}

bool PulseLevelKeeper::SinkHolds(const Snapshot::Sink& sink) const {
    if (!speakersHeld_) {
        return true;
    }
    const std::vector<std::uint32_t> wanted = sink.levels.Volumes(speakerValues_);
    return sink.levels.mute == speakerMute_ &&
           std::equal(wanted.begin(), wanted.end(), sink.levels.volumes.begin(),
                      sink.levels.volumes.end(), SamePulseVolume);
}

pa_cvolume PulseLevelKeeper::StreamVolumeOn(const Snapshot::Sink& sink) const {
    if (sink.flat) {
        return VolumeFor(Stereo(), speakersHeld_ ? speakerValues_ : sink.levels.Values(2));
    }
    pa_cvolume unity;
    pa_cvolume_set(&unity, 2, PA_VOLUME_NORM);
    return unity;
}

bool PulseLevelKeeper::StreamHolds(const Snapshot::Stream& stream,
                                   const Snapshot::Sink& sink) const {
    const pa_cvolume wanted = StreamVolumeOn(sink);
    return !stream.levels.mute &&
           std::equal(wanted.values, wanted.values + wanted.channels, stream.levels.volumes.begin(),
                      stream.levels.volumes.end(), SamePulseVolume);
}

std::vector<PulseLevelKeeper::Set> PulseLevelKeeper::SetsFor(
    const Snapshot::Sink& sink, const std::optional<Snapshot::Stream>& stream) const {
    std::vector<Set> sets;
    const std::uint32_t index = sink.index;
    const bool speakers = speakersHeld_ && !SinkHolds(sink);
    if (speakers && speakerMute_ && !sink.levels.mute) {
        sets.emplace_back([index](pa_context* c, PulseContext::SuccessCallback cb, void* data) {
            return pa_context_set_sink_mute_by_index(c, index, 1, cb, data);
        });
    }
    const pa_cvolume volume = VolumeFor(sink.levels, speakerValues_);
    if (speakers &&
        !std::equal(volume.values, volume.values + volume.channels, sink.levels.volumes.begin(),
                    sink.levels.volumes.end(), SamePulseVolume)) {
        sets.emplace_back(
            [index, volume](pa_context* c, PulseContext::SuccessCallback cb, void* data) {
                return pa_context_set_sink_volume_by_index(c, index, &volume, cb, data);
            });
    }
    if (stream) {
        const std::uint32_t input = stream->index;
        const pa_cvolume wanted = StreamVolumeOn(sink);
        if (!std::equal(wanted.values, wanted.values + wanted.channels,
                        stream->levels.volumes.begin(), stream->levels.volumes.end(),
                        SamePulseVolume)) {
            sets.emplace_back(
                [input, wanted](pa_context* c, PulseContext::SuccessCallback cb, void* data) {
                    return pa_context_set_sink_input_volume(c, input, &wanted, cb, data);
                });
        }
        if (stream->levels.mute) {
            sets.emplace_back([input](pa_context* c, PulseContext::SuccessCallback cb, void* data) {
                return pa_context_set_sink_input_mute(c, input, 0, cb, data);
            });
        }
    }
    if (speakers && !speakerMute_ && sink.levels.mute) {
        sets.emplace_back([index](pa_context* c, PulseContext::SuccessCallback cb, void* data) {
            return pa_context_set_sink_mute_by_index(c, index, 0, cb, data);
        });
    }
    return sets;
}

void PulseLevelKeeper::NoteHeld(const std::string& sink) {
    heldSink_ = sink;
    heldGeneration_ = pulse_.Generation();
}

void PulseLevelKeeper::NoteFailed() {
    if (!failedTold_) {
        failedTold_ = true;
        Post([this] {
            if (held_) {
                held_(false);
            }
        });
    }
}

void PulseLevelKeeper::NoteHolds() {
    attempts_ = 0;
    retryDue_ = false;
    retry_->Stop();
    if (failedTold_) {
        failedTold_ = false;
        Post([this] {
            if (held_) {
                held_(true);
            }
        });
    }
}

std::vector<std::uint32_t> PulseLevelKeeper::SpeakerValues() {
    std::unique_lock lock(pulse_.Loop());
    return speakerValues_;
}

bool PulseLevelKeeper::SpeakerMute() {
    std::unique_lock lock(pulse_.Loop());
    return speakerMute_;
}

std::uint32_t PulseLevelKeeper::PlaybackVolume() {
    std::unique_lock lock(pulse_.Loop());
    return playbackVolume_;
}

bool PulseLevelKeeper::PlaybackMute() {
    std::unique_lock lock(pulse_.Loop());
    return playbackMute_;
}

// ----- the owner's thread: reads and sets, waited for

std::optional<Snapshot::Sink> PulseLevelKeeper::ReadSinkLocked(
    std::unique_lock<PulseLoopLock>& lock, std::optional<std::uint32_t> index) {
    Snapshot one;
    const bool read = pulse_.Request(lock, [&](pa_context* c) {
        return index ? pa_context_get_sink_info_by_index(c, *index, &OnSinkInfo, &one)
                     : pa_context_get_sink_info_by_name(c, kDefaultSinkName, &OnSinkInfo, &one);
    }) && !one.sinks.empty();
    if (read) {
        return one.sinks.front();
    }
    if (index) {
        return std::nullopt;
    }
    // No default for a moment (the default output was removed and the server has not chosen
    // another yet): the first output stands in, as it does in the mixer's tree.
    Snapshot all;
    if (!pulse_.Request(
            lock,
            [&](pa_context* c) { return pa_context_get_sink_info_list(c, &OnSinkInfo, &all); }) ||
        all.sinks.empty()) {
        return std::nullopt;
    }
    return all.sinks.front();
}

std::optional<Snapshot::Stream> PulseLevelKeeper::ReadStreamLocked(
    std::unique_lock<PulseLoopLock>& lock) {
    if (!playback_ || !playback_->Ready()) {
        return std::nullopt;
    }
    const std::uint32_t index = playback_->Index();
    Snapshot one;
    if (!pulse_.Request(lock,
                        [&](pa_context* c) {
                            return pa_context_get_sink_input_info(c, index, &OnStreamInfo, &one);
                        }) ||
        one.streams.empty()) {
        return std::nullopt;
    }
    return one.streams.front();
}

bool PulseLevelKeeper::PutLevelsLocked(std::unique_lock<PulseLoopLock>& lock,
                                       const Snapshot::Sink& sink) {
    Snapshot::Sink now = sink;
    const bool playsThere = playback_ && playback_->Ready() && playback_->SinkIndex() == sink.index;
    std::optional<Snapshot::Stream> stream;
    if (playsThere) {
        stream = ReadStreamLocked(lock);
        if (!stream) {
            return false;
        }
    }
    for (int attempt = 0;; ++attempt) {
        if (SinkHolds(now) && (!stream || StreamHolds(*stream, now))) {
            NoteHeld(now.name);
            return true;
        }
        if (attempt == kSetAttempts) {
            qCWarning(lcPulse) << "the output" << now.name.c_str() << "did not take the level";
            return false;
        }
        const std::uint64_t eventsBefore = serverEvents_;
        bool taken = true;
        for (const Set& set : SetsFor(now, stream)) {
            taken = pulse_.Set(lock, set) && taken;
        }
        // What the server holds now, whatever it answered to the sets; where it took them but
        // does not show them yet, once it has reported a change.
        for (int look = 0; look < 2; ++look) {
            const std::optional<Snapshot::Sink> read = ReadSinkLocked(lock, now.index);
            if (!read) {
                return false;
            }
            now = *read;
            if (stream) {
                stream = ReadStreamLocked(lock);
                if (!stream) {
                    return false;
                }
            }
            const bool holds = SinkHolds(now) && (!stream || StreamHolds(*stream, now));
            if (holds || !taken || look == 1) {
                break;
            }
            pulse_.Wait(
                lock, [&] { return serverEvents_ != eventsBefore; }, kSettle);
        }
    }
}

std::optional<Snapshot::Sink> PulseLevelKeeper::PutLevelsOnDefaultLocked(
    std::unique_lock<PulseLoopLock>& lock) {
    const std::optional<Snapshot::Sink> sink = ReadSinkLocked(lock, std::nullopt);
    if (!sink || !PutLevelsLocked(lock, *sink)) {
        return std::nullopt;
    }
    return sink;
}

bool PulseLevelKeeper::FadeOutLocked(std::unique_lock<PulseLoopLock>& lock, bool audible) {
    if (!playback_ || !playback_->Ready()) {
        return true;
    }
    // Nothing the server has not read from the stream has been heard: a stream that has only
    // just started is stopped without waiting (a sink that renders far ahead, such as a null
    // sink with rewinds, reads a new stream only after its own buffer, which can take seconds).
    if (playback_->NothingTaken(lock)) {
        return true;
    }
    if (!playback_ || !playback_->Ready()) {
        return true;
    }
    const std::uint32_t rate = playback_->Rate();
    const std::int64_t end = playback_->RampTo(lock, 0.0, audible ? FramesOf(kFadeOut, rate) : 0);
    return playback_ && playback_->WaitTaken(lock, end + FramesOf(kFadeGuard, rate),
                                             kFadeOut + PulseContext::kRequestTimeout);
}

bool PulseLevelKeeper::ChangeUnheardLocked(std::unique_lock<PulseLoopLock>& lock, bool audible,
                                           const std::function<bool()>& change) {
    changing_ = true;
    FadeOutLocked(lock, audible);
    const bool held = change();
    changing_ = false;
    if (held) {
        confirmed_ = true;
        NoteHolds();
        if (playback_ && playback_->Ready()) {
            playback_->RampTo(lock, 1.0, FramesOf(kFadeIn, playback_->Rate()));
        }
    } else {
        // Silent until the level holds: the loop thread tries again and fades in then.
        confirmed_ = false;
        NoteFailed();
        if (!retry_->Active()) {
            retry_->Start(kRetryInterval);
        }
    }
    if (recheck_) {
        recheck_ = false;
        ScheduleCheck();
    }
    return held;
}

void PulseLevelKeeper::HoldSpeakers() {
    std::unique_lock lock(pulse_.Loop());
    speakersHeld_ = true;
    ScheduleCheck();
}

bool PulseLevelKeeper::SetSpeakers(std::vector<std::uint32_t> values, bool mute) {
    if (values.empty()) {
        return false;
    }
    std::unique_lock lock(pulse_.Loop());
    speakersHeld_ = true;
    const bool audibleBefore = SpeakersAudible();
    speakerValues_ = std::move(values);
    speakerMute_ = mute;
    const bool audible = audibleBefore || SpeakersAudible();
    if (!pulse_.ConnectLocked(lock)) {
        return true;  // held: a server that comes back gets it before any sound
    }
    if (!playback_ || !playback_->Ready()) {
        // Nothing to fade: the next sound starts with the level in place.
        const bool held = PutLevelsOnDefaultLocked(lock).has_value();
        confirmed_ = held;
        if (held) {
            NoteHolds();
        }
        return held;
    }
    const std::optional<Snapshot::Sink> preferred = ReadSinkLocked(lock, std::nullopt);
    if (preferred && playback_ && preferred->name != playback_->SinkName()) {
        // Another output became the default: it gets the level, then the sound.
        lock.unlock();
        return Replay();
    }
    const std::uint32_t sinkIndex = playback_ ? playback_->SinkIndex() : PA_INVALID_INDEX;
    return ChangeUnheardLocked(lock, audible, [&] {
        const std::optional<Snapshot::Sink> sink = ReadSinkLocked(lock, sinkIndex);
        return sink && PutLevelsLocked(lock, *sink);
    });
}

void PulseLevelKeeper::SetPlaybackVolume(std::uint32_t volume) {
    std::unique_lock lock(pulse_.Loop());
    const std::array<double, 2> before = ChannelGains();
    playbackVolume_ = volume;
    ChangeChannelsLocked(lock, before);
}

void PulseLevelKeeper::SetPlaybackMute(bool mute) {
    std::unique_lock lock(pulse_.Loop());
    const std::array<double, 2> before = ChannelGains();
    playbackMute_ = mute;
    ChangeChannelsLocked(lock, before);
}

void PulseLevelKeeper::ChangeChannelsLocked(std::unique_lock<PulseLoopLock>& lock,
                                            const std::array<double, 2>& before) {
    if (!playback_ || !playback_->Ready() || ChannelGains() == before) {
        return;  // the next sound starts with them
    }
    // Out with the old gains, in with the new: a change of ear is no click either.
    changing_ = true;
    FadeOutLocked(lock, before[0] > 0.0 || before[1] > 0.0);
    changing_ = false;
    if (playback_) {
        playback_->SetChannelGains(ChannelGains());
        if (confirmed_ && playback_->Ready()) {
            playback_->RampTo(lock, 1.0, FramesOf(kFadeIn, playback_->Rate()));
        }
    }
}

// ----- sounds

bool PulseLevelKeeper::StartLocked(std::unique_lock<PulseLoopLock>& lock, const PulseSound& sound,
                                   bool async) {
    if (!pulse_.ConnectLocked(lock)) {
        return false;
    }
    // The loop thread leaves the start to this thread.
    changing_ = true;
    struct EndOfStart {
        PulseLevelKeeper& keeper;
        ~EndOfStart() {
            keeper.changing_ = false;
            if (keeper.recheck_) {
                keeper.recheck_ = false;
                keeper.ScheduleCheck();
            }
        }
    } endOfStart{*this};
    // The output gets the level first, so the sound never comes louder than the level shown; an
    // output that has not taken it yet gets the next try, and the sound stays off until then.
    const std::optional<Snapshot::Sink> sink = PutLevelsOnDefaultLocked(lock);
    if (!sink) {
        return false;
    }
    // A loop fades in; a sound that plays once is played as it is (it carries its own envelope).
    const std::int64_t fadeIn = sound.loop ? FramesOf(kFadeIn, sound.format.rate) : 0;
    auto playback = std::make_unique<PulsePlayback>(pulse_, sound, fadeIn, ChannelGains(),
                                                    &underflows_, [this] {
                                                        // Loop thread: nothing plays there any
                                                        // more; the owner plays it again.
                                                        confirmed_ = false;
                                                        Post([this] { SoundLost(); });
                                                    });
    if (!playback->Connect(lock, sink->name, StreamVolumeOn(*sink), false)) {
        playback->Disconnect(lock);
        return false;
    }
    playback_ = std::move(playback);
    // Corked until the stream holds unity: some servers ignore the volume a stream asks for at
    // its start and put back one they stored for the program instead.
    if (!PutLevelsLocked(lock, *sink) || !playback_ || !playback_->Cork(lock, false)) {
        qCWarning(lcPulse) << "PlaySound: the output did not take the level of the sound";
        StopLocked(lock, false);
        return false;
    }
    confirmed_ = true;
    NoteHolds();
    if (async) {
        return true;
    }
    const auto length = std::chrono::milliseconds(playback_->Frames() * 1000 / playback_->Rate());
    const bool played = playback_->WaitDrained(lock, length + kDrainSlack);
    StopLocked(lock, false);
    return played;
}

void PulseLevelKeeper::StopLocked(std::unique_lock<PulseLoopLock>& lock, bool fade) {
    if (!playback_) {
        return;
    }
    const bool wasChanging = changing_;
    changing_ = true;
    if (fade && playback_->Loop()) {
        FadeOutLocked(lock, true);
    }
    if (playback_) {
        playback_->Disconnect(lock);
        playback_.reset();
    }
    changing_ = wasChanging;
}

bool PulseLevelKeeper::Play(PulseSound sound, bool async) {
    std::unique_lock lock(pulse_.Loop());
    pulse_.OpenLocked();  // the first sound opens a connection made to open when asked
    StopLocked(lock, true);
    kept_.reset();
    if (!sound.loop) {
        return StartLocked(lock, sound, async);
    }
    kept_ = std::make_unique<PulseSound>(std::move(sound));
    if (StartLocked(lock, *kept_, true)) {
        return true;
    }
    resume_->start();  // played as soon as a server answers
    // Nothing is heard meanwhile, whatever the program shows: a loss like any other.
    if (!lossReported_) {
        lossReported_ = true;
        lock.unlock();
        if (lost_) {
            lost_();
        }
    }
    return false;
}

void PulseLevelKeeper::Stop() {
    std::unique_lock lock(pulse_.Loop());
    StopLocked(lock, true);
    kept_.reset();
}

bool PulseLevelKeeper::Replay() {
    std::unique_lock lock(pulse_.Loop());
    if (!kept_) {
        return false;
    }
    StopLocked(lock, true);
    if (StartLocked(lock, *kept_, true)) {
        return true;
    }
    resume_->start();
    return false;
}

bool PulseLevelKeeper::IsPlaying() {
    std::unique_lock lock(pulse_.Loop());
    return playback_ && playback_->Ready() && !playback_->Drained();
}

std::string PulseLevelKeeper::PlayingSink() {
    std::unique_lock lock(pulse_.Loop());
    return playback_ && playback_->Ready() ? playback_->SinkName() : std::string();
}

std::uint64_t PulseLevelKeeper::Underflows() {
    std::unique_lock lock(pulse_.Loop());
    return underflows_;
}

bool PulseLevelKeeper::IsAvailable() {
    {
        std::unique_lock lock(pulse_.Loop());
        pulse_.OpenLocked();
    }
    return pulse_.Connect();
}

bool PulseLevelKeeper::KeptSoundPlays() {
    std::unique_lock lock(pulse_.Loop());
    return !kept_ || (playback_ && playback_->Ready());
}

void PulseLevelKeeper::SoundLost() {
    if (KeptSoundPlays()) {
        return;
    }
    // An output that was removed while another remains: the sound moves on at once.
    TryResume();
    if (KeptSoundPlays()) {
        return;
    }
    if (!resume_->isActive()) {
        resume_->start();
    }
    if (!lossReported_) {
        lossReported_ = true;
        if (lost_) {
            lost_();
        }
    }
}

void PulseLevelKeeper::TryResume() {
    bool resumed = false;
    {
        std::unique_lock lock(pulse_.Loop());
        if (!kept_ || (playback_ && playback_->Ready())) {
            resume_->stop();
            return;
        }
        if (!pulse_.PollConnectLocked()) {
            return;
        }
        StopLocked(lock, false);
        resumed = kept_ && StartLocked(lock, *kept_, true);
    }
    if (!resumed) {
        return;
    }
    resume_->stop();
    if (lossReported_) {
        lossReported_ = false;
        if (back_) {
            back_();
        }
    }
}

void PulseLevelKeeper::SinkGone(const PulsePlayback* playback) {
    {
        std::unique_lock lock(pulse_.Loop());
        if (!kept_ || !playback_ || playback_.get() != playback) {
            return;
        }
        StopLocked(lock, false);
    }
    SoundLost();
}

// ----- the loop thread

void PulseLevelKeeper::OnServerChange(std::uint32_t event, std::uint32_t index) {
    const std::uint32_t facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const std::uint32_t type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    bool matters = facility == PA_SUBSCRIPTION_EVENT_SINK ||
                   facility == PA_SUBSCRIPTION_EVENT_SERVER ||
                   facility == PA_SUBSCRIPTION_EVENT_CARD;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        // This program's stream: a volume restored or set by another program, a move.
        matters = type != PA_SUBSCRIPTION_EVENT_REMOVE && playback_ && playback_->Ready() &&
                  playback_->Index() == index;
    }
    if (!matters) {
        return;
    }
    ++serverEvents_;
    pulse_.Signal();
    if (changing_) {
        recheck_ = true;
        return;
    }
    ScheduleCheck();
}

void PulseLevelKeeper::ScheduleCheck() {
    // What was under way on a connection that is gone will not be answered.
    const std::uint64_t now = pulse_.Generation();
    if (fix_ && fix_->generation != now) {
        fix_.reset();
    }
    if (check_ && check_->generation != now) {
        check_.reset();
    }
    if (fix_) {
        return;  // its read-back comes when the sets are answered
    }
    if (check_) {
        check_->again = true;
        return;
    }
    StartCheck();
}

void PulseLevelKeeper::StartCheck() {
    auto check = std::make_shared<Check>();
    check->keeper = this;
    check->generation = pulse_.Generation();
    check->stream = playback_ && playback_->Ready() ? playback_->Index() : PA_INVALID_INDEX;
    pulse_.WithContext([&](pa_context* c) {
        Check* data = check.get();
        check->pending +=
            operations_.Track(pa_context_get_server_info(c, &Callbacks::OnServer, data));
        check->pending +=
            operations_.Track(pa_context_get_sink_info_list(c, &Callbacks::OnSink, data));
        if (check->stream != PA_INVALID_INDEX) {
            check->pending += operations_.Track(
                pa_context_get_sink_input_info(c, check->stream, &Callbacks::OnStream, data));
        }
    });
    if (check->pending == 0) {
        return;
    }
    check_ = std::move(check);
    watchdog_->Start(PulseContext::kRequestTimeout);
}

void PulseLevelKeeper::CheckAnswered(Check* check) {
    if (--check->pending > 0 || check_.get() != check) {
        return;
    }
    const std::shared_ptr<Check> done = std::move(check_);
    if (!fix_) {
        watchdog_->Stop();
    }
    Evaluate(*done);
}

void PulseLevelKeeper::Evaluate(Check& check) {
    if (check.generation != pulse_.Generation()) {
        return;
    }
    if (changing_) {
        recheck_ = true;
        return;
    }
    const Snapshot& seen = check.snapshot;
    const bool playing = check.stream != PA_INVALID_INDEX && playback_ && playback_->Ready() &&
                         playback_->Index() == check.stream;
    const Snapshot::Stream* stream = playing ? seen.StreamAt(check.stream) : nullptr;
    if (playing && !stream) {
        return;  // the stream is going; its state tells
    }
    const Snapshot::Sink* sink = stream ? seen.SinkAt(stream->sink) : seen.DefaultSink();
    if (stream && !sink) {
        // The output the sound plays on was removed. Some servers fail the stream then, others
        // leave it playing nowhere: the sound moves on where it can either way.
        confirmed_ = false;
        Silence();
        const PulsePlayback* gone = playback_.get();
        Post([this, gone] { SinkGone(gone); });
        return;
    }
    if (!sink) {
        return;  // no output at all
    }
    if (stream && sink->name != heldSink_) {
        // Moved away from the output that held the level.
        confirmed_ = false;
        Silence();
        PostReplay();
        return;
    }
    const bool holds = SinkHolds(*sink) && (!stream || StreamHolds(*stream, *sink));
    if (holds) {
        settling_ = false;
        settle_->Stop();
        NoteHeld(sink->name);
        if (!confirmed_) {
            confirmed_ = true;
            if (stream) {
                FadeIn();
            }
        }
        if (restoredPending_) {
            restoredPending_ = false;
            Post([this] {
                if (restored_) {
                    restored_();
                }
            });
        }
        NoteHolds();
        const Snapshot::Sink* preferred = seen.DefaultSink();
        if (preferred && preferred->name != sink->name) {
            if (stream) {
                // Another output became the default (headphones plugged in, the old one
                // removed, the operator's choice): it gets the level, then the sound.
                PostReplay();
            } else if (!SinkHolds(*preferred)) {
                StartFix(*preferred, std::nullopt);
                return;
            }
        }
        if (check.again) {
            ScheduleCheck();
        }
        return;
    }
    // Only an output that held the level on this same connection was changed by someone; a new
    // output, or a server that came back, is given it without a word.
    if (confirmed_ && sink->name == heldSink_ && heldGeneration_ == pulse_.Generation()) {
        restoredPending_ = true;
    }
    qCDebug(lcPulse) << "the level does not hold on" << sink->name.c_str() << "(output"
                     << SinkHolds(*sink) << "stream" << (!stream || StreamHolds(*stream, *sink))
                     << "), changed by another:" << restoredPending_;
    confirmed_ = false;
    if (stream) {
        Silence();
    }
    if (settling_) {
        return;  // the sets just answered may still show; the next report or the timer looks
    }
    if (attempts_ < kSetAttempts || retryDue_) {
        ++attempts_;
        retryDue_ = false;
        StartFix(*sink, stream ? std::optional<Snapshot::Stream>(*stream) : std::nullopt);
    } else {
        NoteFailed();
        if (!retry_->Active()) {
            retry_->Start(kRetryInterval);
        }
    }
}

void PulseLevelKeeper::StartFix(const Snapshot::Sink& sink,
                                const std::optional<Snapshot::Stream>& stream) {
    auto fix = std::make_shared<Fix>();
    fix->keeper = this;
    fix->generation = pulse_.Generation();
    const std::vector<Set> sets = SetsFor(sink, stream);
    pulse_.WithContext([&](pa_context* c) {
        for (const Set& set : sets) {
            fix->pending += operations_.Track(set(c, &Callbacks::OnSet, fix.get()));
        }
    });
    if (fix->pending == 0) {
        return;
    }
    fix_ = std::move(fix);
    watchdog_->Start(PulseContext::kRequestTimeout);
}

void PulseLevelKeeper::FixAnswered(Fix* fix) {
    if (--fix->pending > 0 || fix_.get() != fix) {
        return;
    }
    const std::shared_ptr<Fix> done = std::move(fix_);
    watchdog_->Stop();
    if (done->taken) {
        settling_ = true;
        settle_->Start(kSettle);
    }
    // Whatever the server answered, what counts is what it holds now.
    ScheduleCheck();
}

void PulseLevelKeeper::Silence() {
    if (playback_ && playback_->Ready() && playback_->TargetGain() > 0.0) {
        qCDebug(lcPulse) << "silenced until the level holds";
        playback_->RampSoon(0.0, FramesOf(kSilenceAtOnce, playback_->Rate()));
    }
}

void PulseLevelKeeper::FadeIn() {
    if (playback_ && playback_->Ready()) {
        qCDebug(lcPulse) << "the level holds again: fading in";
        playback_->RampSoon(1.0, FramesOf(kFadeIn, playback_->Rate()));
    }
}

void PulseLevelKeeper::PostReplay() {
    if (replayPosted_) {
        return;
    }
    replayPosted_ = true;
    Post([this] {
        {
            std::unique_lock lock(pulse_.Loop());
            replayPosted_ = false;
        }
        Replay();
    });
}

void PulseLevelKeeper::OnWatchdog() {
    const std::uint64_t now = pulse_.Generation();
    const bool unanswered =
        (check_ && check_->generation == now) || (fix_ && fix_->generation == now);
    operations_.CancelAll();
    check_.reset();
    fix_.reset();
    if (unanswered) {
        // An outage like any other: the sound is lost with the connection, and played again
        // with the level in place once the server answers.
        confirmed_ = false;
        Silence();
        pulse_.Abandon();
    } else if (pulse_.IsReady()) {
        ScheduleCheck();  // the look that was lost with the old connection
    }
}

}  // namespace velmora
