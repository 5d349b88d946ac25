#include "platform/sound/PulseSoundOutput.h"

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseShared.h"
#include "platform/pulse/PulseVolume.h"
#include "platform/sound/PulsePlayback.h"
#include "platform/sound/WaveImage.h"

#include <pulse/pulseaudio.h>

#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace velmora {

namespace {

// Longer than any sound plus the time the server needs to play out its buffer.
constexpr std::chrono::milliseconds kDrainSlack{2000};

// Twice a second: "at once" for an operator, and cheap while no server answers.
constexpr std::chrono::milliseconds kResumeInterval{500};

// How often the stream's volume is set before the server is taken to refuse it.
constexpr int kSetAttempts = 3;

// After a fade-out has been taken by the server, this much more, for a resampler's tail.
constexpr std::chrono::milliseconds kFadeGuard{1};

pa_cvolume StereoVolume(std::uint32_t volume) {
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = 2;
    cv.values[0] = PulseVolumeFromLevel(static_cast<std::uint16_t>(volume & 0xFFFFu));
    cv.values[1] = PulseVolumeFromLevel(static_cast<std::uint16_t>(volume >> 16));
    return cv;
}

// Two-channel frames in the image's sample format; a mono image is copied to both channels.
std::vector<std::uint8_t> StereoFrames(const WaveImage& wave) {
    if (wave.channels == 2) {
        return {wave.data.begin(), wave.data.end()};
    }
    const std::size_t bytes = wave.bitsPerSample / 8u;
    std::vector<std::uint8_t> frames(wave.data.size() * 2);
    for (std::size_t i = 0, o = 0; i < wave.data.size(); i += bytes, o += 2 * bytes) {
        std::memcpy(&frames[o], &wave.data[i], bytes);
        std::memcpy(&frames[o + bytes], &wave.data[i], bytes);
    }
    return frames;
}

std::int64_t FramesOf(std::chrono::milliseconds length, std::uint32_t rate) {
    return static_cast<std::int64_t>(length.count()) * rate / 1000;
}

struct StreamLevels {
    bool found = false;
    pa_cvolume volume{};
    bool mute = false;
};

void OnStreamInfo(pa_context*, const pa_sink_input_info* info, int eol, void* out) {
    if (eol != 0 || !info) {
        return;
    }
    auto* result = static_cast<StreamLevels*>(out);
    result->found = true;
    result->volume = info->volume;
    result->mute = info->mute != 0;
}

bool SameVolume(const pa_cvolume& a, const pa_cvolume& b) {
    return std::equal(a.values, a.values + a.channels, b.values, b.values + b.channels,
                      SamePulseVolume);
}

}  // namespace

PulseSoundOutput::PulseSoundOutput(PulseContext& pulse)
    : pulse_(pulse), retry_(std::make_unique<QTimer>()) {
    retry_->setInterval(kResumeInterval);
    QObject::connect(retry_.get(), &QTimer::timeout, retry_.get(), [this] { TryResume(); });
    std::unique_lock lock(pulse_.Loop());
    // Loop thread: a change of this program's stream on the server (a stored volume put back,
    // another program's mixer) is looked at on the owning thread.
    changeHandler_ = pulse_.AddChangeHandler([this](std::uint32_t event, std::uint32_t index) {
        if (!playback_ || !playback_->Ready()) {
            return;
        }
        const std::uint32_t facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const std::uint32_t type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        // The output the sound plays on was removed. Some servers fail the stream then, others
        // leave it playing nowhere: the sound moves on where it can either way.
        if (facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
            index == playback_->SinkIndex()) {
            QMetaObject::invokeMethod(
                retry_.get(), [this, index] { SinkRemoved(index); }, Qt::QueuedConnection);
            return;
        }
        if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT || type == PA_SUBSCRIPTION_EVENT_REMOVE ||
            playback_->Index() != index || checkPosted_) {
            return;
        }
        checkPosted_ = true;
        QMetaObject::invokeMethod(
            retry_.get(), [this] { CheckStream(); }, Qt::QueuedConnection);
    });
}

void PulseSoundOutput::SinkRemoved(std::uint32_t sink) {
    {
        std::unique_lock lock(pulse_.Loop());
        if (!kept_ || !playback_ || playback_->SinkIndex() != sink) {
            return;
        }
        StopLocked(lock, false);
    }
    SoundLost();
}

PulseSoundOutput::~PulseSoundOutput() {
    {
        std::unique_lock lock(pulse_.Loop());
        pulse_.RemoveChangeHandler(changeHandler_);
        StopLocked(lock, true);
        kept_.reset();
    }
    // Drops what was posted and not yet delivered.
    retry_.reset();
}

void PulseSoundOutput::SetSoundLostHandler(SoundLostHandler handler) {
    lostHandler_ = std::move(handler);
}

void PulseSoundOutput::SetSoundBackHandler(SoundBackHandler handler) {
    backHandler_ = std::move(handler);
}

void PulseSoundOutput::SetSpeakerHandler(SpeakerHandler handler) {
    speakerHandler_ = std::move(handler);
}

bool PulseSoundOutput::KeptSoundPlays() {
    std::unique_lock lock(pulse_.Loop());
    return !kept_ || (playback_ && playback_->Ready());
}

void PulseSoundOutput::SoundLost() {
    if (KeptSoundPlays()) {
        return;
    }
    // An output that was removed while another remains: the sound moves on at once.
    TryResume();
    if (KeptSoundPlays()) {
        return;
    }
    if (!retry_->isActive()) {
        retry_->start();
    }
    if (!lossReported_) {
        lossReported_ = true;
        if (lostHandler_) {
            lostHandler_();
        }
    }
}

void PulseSoundOutput::TryResume() {
    bool resumed = false;
    {
        std::unique_lock lock(pulse_.Loop());
        if (!kept_ || (playback_ && playback_->Ready())) {
            retry_->stop();
            return;
        }
        if (!pulse_.PollConnectLocked()) {
            return;
        }
        StopLocked(lock, false);
        // The speaker handler puts the program's levels on the output first, so the sound never
        // comes back louder than the program set it; an output that has not taken them yet gets
        // the next try, and the sound stays off until then.
        resumed = kept_ && StartLocked(lock, *kept_, true);
    }
    if (!resumed) {
        return;
    }
    retry_->stop();
    if (lossReported_) {
        lossReported_ = false;
        if (backHandler_) {
            backHandler_();
        }
    }
}

void PulseSoundOutput::CheckStream() {
    std::unique_lock lock(pulse_.Loop());
    checkPosted_ = false;
    if (playback_ && playback_->Ready()) {
        // Already changed on the server, so there is nothing left to fade: put it back at once.
        EnforceStreamLevelsLocked(lock);
    }
}

bool PulseSoundOutput::FadeOutLocked(std::unique_lock<PulseLoopLock>& lock, bool audible) {
    if (!playback_ || !playback_->Ready()) {
        return true;
    }
    // Nothing the server has not read from the stream has been heard: a stream that has only
    // just started is stopped without waiting (a sink that renders far ahead, such as a null
    // sink with rewinds, reads a new stream only after its own buffer, which can take seconds).
    if (playback_->NothingTaken(lock)) {
        return true;
    }
    const std::uint32_t rate = playback_->Rate();
    const std::int64_t end = playback_->RampTo(lock, 0.0, audible ? FramesOf(kFadeOut, rate) : 0);
    return playback_->WaitTaken(lock, end + FramesOf(kFadeGuard, rate),
                                kFadeOut + PulseContext::kRequestTimeout);
}

void PulseSoundOutput::FadeInLocked(std::unique_lock<PulseLoopLock>& lock) {
    if (playback_ && playback_->Ready()) {
        playback_->RampTo(lock, 1.0, FramesOf(kFadeIn, playback_->Rate()));
    }
}

bool PulseSoundOutput::ChangeUnheard(bool audible, const std::function<bool()>& change) {
    std::unique_lock lock(pulse_.Loop());
    FadeOutLocked(lock, audible);
    lock.unlock();
    const bool changed = change();
    lock.lock();
    FadeInLocked(lock);
    return changed;
}

bool PulseSoundOutput::Replay() {
    std::unique_lock lock(pulse_.Loop());
    if (!kept_) {
        return false;
    }
    StopLocked(lock, true);
    if (StartLocked(lock, *kept_, true)) {
        return true;
    }
    retry_->start();
    return false;
}

std::string PulseSoundOutput::PlayingSink() {
    std::unique_lock lock(pulse_.Loop());
    return playback_ && playback_->Ready() ? playback_->SinkName() : std::string();
}

void PulseSoundOutput::StopLocked(std::unique_lock<PulseLoopLock>& lock, bool fade) {
    if (!playback_) {
        return;
    }
    if (fade && playback_->Loop()) {
        FadeOutLocked(lock, true);
    }
    playback_->Disconnect(lock);
    playback_.reset();
}

bool PulseSoundOutput::PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) {
    std::unique_lock lock(pulse_.Loop());
    StopLocked(lock, true);
    kept_.reset();
    if (image.empty()) {
        return true;
    }
    if ((flags & SND_MEMORY) == 0) {
        qCWarning(lcPulse) << "PlaySound: only sounds in memory are supported";
        return false;
    }
    const std::optional<WaveImage> wave = ParseWaveImage(image);
    if (!wave || wave->Frames() == 0) {
        qCWarning(lcPulse) << "PlaySound: not a playable wave image";
        return false;
    }
    PulseSound sound{StereoFrames(*wave), {}, (flags & SND_LOOP) != 0};
    sound.format.format = wave->bitsPerSample == 16 ? PA_SAMPLE_S16LE : PA_SAMPLE_U8;
    sound.format.rate = wave->sampleRate;
    sound.format.channels = 2;
    if (!sound.loop) {
        return StartLocked(lock, sound, (flags & SND_ASYNC) != 0);
    }
    kept_ = std::make_unique<PulseSound>(std::move(sound));
    if (StartLocked(lock, *kept_, true)) {
        return true;
    }
    retry_->start();  // played as soon as a server answers
    // Nothing is heard meanwhile, whatever the program shows: a loss like any other.
    if (!lossReported_) {
        lossReported_ = true;
        if (lostHandler_) {
            lock.unlock();
            lostHandler_();
        }
    }
    return false;
}

bool PulseSoundOutput::StartLocked(std::unique_lock<PulseLoopLock>& lock, const PulseSound& sound,
                                   bool async) {
    if (!pulse_.ConnectLocked(lock)) {
        return false;
    }
    std::string sink;
    if (speakerHandler_) {
        lock.unlock();
        const std::optional<std::string> named = speakerHandler_();
        lock.lock();
        if (!named || !pulse_.ConnectLocked(lock)) {
            return false;
        }
        sink = *named;
    }
    // A loop fades in; a sound that plays once is played as it is (it carries its own envelope).
    const std::int64_t fadeIn = sound.loop ? FramesOf(kFadeIn, sound.format.rate) : 0;
    PulseSoundOutput* self = this;
    auto playback = std::make_unique<PulsePlayback>(pulse_, sound, fadeIn, &underflows_, [self] {
        QMetaObject::invokeMethod(
            self->retry_.get(), [self] { self->SoundLost(); }, Qt::QueuedConnection);
    });
    if (!playback->Connect(lock, sink, StereoVolume(volume_), mute_)) {
        playback->Disconnect(lock);
        return false;
    }
    playback_ = std::move(playback);
    if (!EnforceStreamLevelsLocked(lock) || !playback_->Cork(lock, false)) {
        qCWarning(lcPulse) << "PlaySound: the server did not take the stream's volume";
        StopLocked(lock, false);
        return false;
    }
    if (async) {
        return true;
    }
    const auto length = std::chrono::milliseconds(playback_->Frames() * 1000 / playback_->Rate());
    const bool played = playback_->WaitDrained(lock, length + kDrainSlack);
    StopLocked(lock, false);
    return played;
}

std::optional<bool> PulseSoundOutput::StreamHoldsLocked(std::unique_lock<PulseLoopLock>& lock) {
    if (!playback_ || !playback_->Ready()) {
        return std::nullopt;
    }
    StreamLevels levels;
    if (!pulse_.RunOperation(lock,
                             pa_context_get_sink_input_info(pulse_.Context(), playback_->Index(),
                                                            &OnStreamInfo, &levels)) ||
        !levels.found) {
        return std::nullopt;
    }
    return SameVolume(levels.volume, StereoVolume(volume_)) && levels.mute == mute_;
}

bool PulseSoundOutput::EnforceStreamLevelsLocked(std::unique_lock<PulseLoopLock>& lock) {
    for (int attempt = 0;; ++attempt) {
        const std::optional<bool> holds = StreamHoldsLocked(lock);
        if (!holds || *holds || attempt == kSetAttempts) {
            return holds.value_or(false);
        }
        const std::uint32_t index = playback_->Index();
        const pa_cvolume wanted = StereoVolume(volume_);
        PulseContext::SetReply volumeReply{&pulse_};
        PulseContext::SetReply muteReply{&pulse_};
        pulse_.RunSet(lock,
                      pa_context_set_sink_input_volume(pulse_.Context(), index, &wanted,
                                                       &PulseContext::OnSetReply, &volumeReply),
                      volumeReply);
        pulse_.RunSet(lock,
                      pa_context_set_sink_input_mute(pulse_.Context(), index, mute_ ? 1 : 0,
                                                     &PulseContext::OnSetReply, &muteReply),
                      muteReply);
    }
}

bool PulseSoundOutput::ChangeStreamLevelsLocked(std::unique_lock<PulseLoopLock>& lock) {
    const std::optional<bool> holds = StreamHoldsLocked(lock);
    if (!holds || *holds) {
        return true;  // nothing plays (the next sound starts with them), or nothing changes
    }
    FadeOutLocked(lock, true);
    const bool taken = EnforceStreamLevelsLocked(lock);
    FadeInLocked(lock);
    return taken;
}

bool PulseSoundOutput::IsPlaying() {
    std::unique_lock lock(pulse_.Loop());
    return playback_ && playback_->Ready() && !playback_->Drained();
}

bool PulseSoundOutput::IsAvailable() {
    return pulse_.Connect();
}

std::uint64_t PulseSoundOutput::Underflows() {
    std::unique_lock lock(pulse_.Loop());
    return underflows_;
}

namespace {

struct ServerInfo {
    std::string name;
    std::string version;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* out) {
    auto* result = static_cast<ServerInfo*>(out);
    result->name = info->server_name ? info->server_name : "";
    result->version = info->server_version ? info->server_version : "";
}

}  // namespace

MMRESULT PulseSoundOutput::GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) {
    if (deviceId != 0 || !caps) {
        return deviceId != 0 ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALPARAM;
    }
    std::unique_lock lock(pulse_.Loop());
    if (!pulse_.ConnectLocked(lock)) {
        return MMSYSERR_BADDEVICEID;
    }
    ServerInfo info;
    if (!pulse_.RunOperation(lock,
                             pa_context_get_server_info(pulse_.Context(), &OnServerInfo, &info))) {
        return MMSYSERR_ERROR;
    }
    *caps = WaveOutCaps{};
    caps->vDriverVersion = DriverVersionOf(info.version);
    std::snprintf(caps->szPname, sizeof caps->szPname, "%s", info.name.c_str());
    // 8 and 16 bit, mono and stereo, at 44.1 and 96 kHz.
    caps->dwFormats = 0x00000F00u | 0x000F0000u;
    caps->wChannels = 2;
    caps->dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
    return MMSYSERR_NOERROR;
}

// The volume the stream carries is the one held here: the output puts it back whenever the
// server reports another.
MMRESULT PulseSoundOutput::GetVolume(std::uint32_t deviceId, std::uint32_t* volume) {
    if (deviceId != 0 || !volume) {
        return deviceId != 0 ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALPARAM;
    }
    std::unique_lock lock(pulse_.Loop());
    *volume = volume_;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::SetVolume(std::uint32_t deviceId, std::uint32_t volume) {
    if (deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    std::unique_lock lock(pulse_.Loop());
    volume_ = volume;
    return ChangeStreamLevelsLocked(lock) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT PulseSoundOutput::GetPlaybackMute(bool* mute) {
    if (!mute) {
        return MMSYSERR_INVALPARAM;
    }
    std::unique_lock lock(pulse_.Loop());
    *mute = mute_;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::SetPlaybackMute(bool mute) {
    std::unique_lock lock(pulse_.Loop());
    mute_ = mute;
    return ChangeStreamLevelsLocked(lock) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

}  // namespace velmora
