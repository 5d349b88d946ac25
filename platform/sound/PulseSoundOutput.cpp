#include "platform/sound/PulseSoundOutput.h"

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseShared.h"
#include "platform/pulse/PulseVolume.h"
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

// Target buffer of the playback stream: short, so that a new tone is heard at once, and refilled
// in 10 ms parts, so that the loop thread wakes seldom and still has 20 ms to answer before the
// server runs out of frames.
constexpr pa_usec_t kTargetLatencyUsec = 30000;
constexpr pa_usec_t kRefillUsec = 10000;

// Longer than any sound plus the time the server needs to play out its buffer.
constexpr std::chrono::milliseconds kDrainSlack{2000};

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

}  // namespace

// A sound as its stream plays it: two-channel frames in the image's sample format.
struct PulseSoundOutput::Sound {
    std::vector<std::uint8_t> frames;
    pa_sample_spec format;
    bool loop;
};

// One sound on the server: its frames, the stream that plays them and the position in them.
// Created, used and destroyed with the loop locked; the callbacks run on the loop thread.
struct PulseSoundOutput::Playback {
    PulseSoundOutput& owner;
    PulseContext& pulse;
    std::vector<std::uint8_t> frames;
    std::size_t frameSize;
    std::size_t position = 0;
    bool loop;
    bool allWritten = false;
    bool drained = false;
    bool stopping = false;  // ended by the program, not lost
    bool lossPosted = false;
    pa_stream* stream = nullptr;
    pa_operation* drain = nullptr;
    std::uint64_t* underflows;

    Playback(PulseSoundOutput& o, const Sound& sound, std::uint64_t* underflowCount)
        : owner(o),
          pulse(o.pulse_),
          frames(sound.frames),
          frameSize(pa_frame_size(&sound.format)),
          loop(sound.loop),
          underflows(underflowCount) {}

    ~Playback() {
        if (drain) {
            if (pa_operation_get_state(drain) == PA_OPERATION_RUNNING) {
                pa_operation_cancel(drain);
            }
            pa_operation_unref(drain);
        }
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    }

    pa_stream_state_t State() const { return pa_stream_get_state(stream); }

    // Writes what the server asks for; a loop wraps to the first frame without a gap.
    void Fill(std::size_t requested) {
        while (requested >= frameSize && !allWritten) {
            std::size_t size = requested;
            void* buffer = nullptr;
            if (pa_stream_begin_write(stream, &buffer, &size) < 0 || !buffer) {
                return;
            }
            size -= size % frameSize;
            std::size_t written = 0;
            while (written < size) {
                const std::size_t chunk = std::min(size - written, frames.size() - position);
                std::memcpy(static_cast<std::uint8_t*>(buffer) + written, &frames[position], chunk);
                written += chunk;
                position += chunk;
                if (position == frames.size()) {
                    if (!loop) {
                        allWritten = true;
                        break;
                    }
                    position = 0;
                }
            }
            if (written == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            pa_stream_write(stream, buffer, written, nullptr, 0, PA_SEEK_RELATIVE);
            requested -= std::min(requested, written);
        }
        if (allWritten && !drain) {
            drain = pa_stream_drain(stream, &Playback::OnDrained, this);
        }
    }

    static void OnWrite(pa_stream*, std::size_t requested, void* self) {
        static_cast<Playback*>(self)->Fill(requested);
    }

    // A looping stream that fails or ends without the program stopping it was lost with the
    // server: the owner hears of it on its own thread.
    static void OnState(pa_stream* stream, void* self) {
        auto* playback = static_cast<Playback*>(self);
        if (playback->loop && !playback->stopping && !playback->lossPosted &&
            !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            playback->lossPosted = true;
            PulseSoundOutput* owner = &playback->owner;
            QMetaObject::invokeMethod(
                owner->retry_.get(), [owner] { owner->SoundLost(); }, Qt::QueuedConnection);
        }
        playback->pulse.Signal();
    }

    // The server ran out of frames (the loop thread was not scheduled in time): a gap.
    static void OnUnderflow(pa_stream*, void* self) {
        auto* playback = static_cast<Playback*>(self);
        if (playback->loop || !playback->allWritten) {
            ++*playback->underflows;
        }
    }

    static void OnDrained(pa_stream*, int success, void* self) {
        auto* playback = static_cast<Playback*>(self);
        playback->drained = success != 0;
        playback->pulse.Signal();
    }
};

// Twice a second: "at once" for an operator, and cheap while no server answers.
constexpr std::chrono::milliseconds kResumeInterval{500};

PulseSoundOutput::PulseSoundOutput(PulseContext& pulse)
    : pulse_(pulse), retry_(std::make_unique<QTimer>()) {
    retry_->setInterval(kResumeInterval);
    QObject::connect(retry_.get(), &QTimer::timeout, retry_.get(), [this] { TryResume(); });
}

PulseSoundOutput::~PulseSoundOutput() {
    {
        std::unique_lock lock(pulse_.Loop());
        StopLocked(lock);
        kept_.reset();
    }
    // Drops a loss that was posted and not yet delivered.
    retry_.reset();
}

void PulseSoundOutput::SetSoundLostHandler(SoundLostHandler handler) {
    lostHandler_ = std::move(handler);
}

void PulseSoundOutput::SetBeforeResumeHandler(std::function<bool()> handler) {
    beforeResume_ = std::move(handler);
}

void PulseSoundOutput::SoundLost() {
    {
        std::unique_lock lock(pulse_.Loop());
        if (!kept_ || (playback_ && playback_->State() == PA_STREAM_READY)) {
            return;
        }
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
    std::unique_lock lock(pulse_.Loop());
    if (!kept_ || (playback_ && playback_->State() == PA_STREAM_READY)) {
        retry_->stop();
        return;
    }
    if (!pulse_.PollConnectLocked()) {
        return;
    }
    // The speaker levels first, so that the sound never comes back louder than the program
    // set it; a server that has not taken them yet (it may still be setting up its sinks) gets
    // the next try, and the sound stays off until then.
    if (beforeResume_) {
        lock.unlock();
        const bool restored = beforeResume_();
        lock.lock();
        if (!restored) {
            return;
        }
    }
    StopLocked(lock);
    if (kept_ && StartLocked(lock, *kept_, true)) {
        retry_->stop();
        lossReported_ = false;
    }
}

void PulseSoundOutput::StopLocked(std::unique_lock<PulseLoopLock>& lock) {
    if (!playback_) {
        return;
    }
    Playback& playback = *playback_;
    playback.stopping = true;
    pa_stream_set_write_callback(playback.stream, nullptr, nullptr);
    if (playback.State() == PA_STREAM_READY || playback.State() == PA_STREAM_CREATING) {
        // Wait for the server to drop the stream, so the sound has ended when Stop returns.
        pa_stream_disconnect(playback.stream);
        if (!pulse_.Wait(
                lock, [&] { return !PA_STREAM_IS_GOOD(playback.State()); },
                PulseContext::kRequestTimeout)) {
            pulse_.Abandon();
        }
    }
    playback_.reset();
}

bool PulseSoundOutput::PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) {
    std::unique_lock lock(pulse_.Loop());
    StopLocked(lock);
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
    Sound sound{StereoFrames(*wave), {}, (flags & SND_LOOP) != 0};
    sound.format.format = wave->bitsPerSample == 16 ? PA_SAMPLE_S16LE : PA_SAMPLE_U8;
    sound.format.rate = wave->sampleRate;
    sound.format.channels = 2;
    if (!sound.loop) {
        return StartLocked(lock, sound, (flags & SND_ASYNC) != 0);
    }
    kept_ = std::make_unique<Sound>(std::move(sound));
    if (StartLocked(lock, *kept_, true)) {
        return true;
    }
    retry_->start();  // played as soon as a server answers
    return false;
}

bool PulseSoundOutput::StartLocked(std::unique_lock<PulseLoopLock>& lock, const Sound& sound,
                                   bool async) {
    if (!pulse_.ConnectLocked(lock)) {
        return false;
    }
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    auto playback = std::make_unique<Playback>(*this, sound, &underflows_);
    playback->stream = pa_stream_new(pulse_.Context(), "Wave output", &sound.format, &map);
    if (!playback->stream) {
        return false;
    }
    pa_stream_set_state_callback(playback->stream, &Playback::OnState, playback.get());
    pa_stream_set_write_callback(playback->stream, &Playback::OnWrite, playback.get());
    pa_stream_set_underflow_callback(playback->stream, &Playback::OnUnderflow, playback.get());

    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatencyUsec, &sound.format));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRefillUsec, &sound.format));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const pa_cvolume volume = StereoVolume(volume_);
    const auto streamFlags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | (mute_ ? PA_STREAM_START_MUTED : PA_STREAM_START_UNMUTED));
    if (pa_stream_connect_playback(playback->stream, nullptr, &attr, streamFlags, &volume,
                                   nullptr) < 0) {
        qCWarning(lcPulse) << "PlaySound:" << pa_strerror(pa_context_errno(pulse_.Context()));
        return false;
    }
    playback_ = std::move(playback);
    Playback& current = *playback_;
    pulse_.Wait(
        lock, [&] { return current.State() != PA_STREAM_CREATING; }, PulseContext::kRequestTimeout);
    if (current.State() != PA_STREAM_READY) {
        qCWarning(lcPulse) << "PlaySound: the server did not accept the stream";
        if (current.State() == PA_STREAM_CREATING) {
            pulse_.Abandon();
        }
        StopLocked(lock);
        return false;
    }
    if (async) {
        return true;
    }
    const std::size_t frames = sound.frames.size() / current.frameSize;
    const auto length = std::chrono::milliseconds(frames * 1000 / sound.format.rate);
    pulse_.Wait(
        lock, [&] { return current.drained || current.State() != PA_STREAM_READY; },
        length + kDrainSlack);
    const bool played = current.drained;
    StopLocked(lock);
    return played;
}

bool PulseSoundOutput::IsPlaying() {
    std::unique_lock lock(pulse_.Loop());
    return playback_ && playback_->State() == PA_STREAM_READY && !playback_->drained;
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

struct StreamLevels {
    bool found = false;
    pa_cvolume volume{};
    bool mute = false;
};

void OnSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* out) {
    if (eol != 0 || !info) {
        return;
    }
    auto* result = static_cast<StreamLevels*>(out);
    result->found = true;
    result->volume = info->volume;
    result->mute = info->mute != 0;
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

// Takes the volume and mute of a playing stream, which another program may have changed.
bool PulseSoundOutput::ReadStreamLocked(std::unique_lock<PulseLoopLock>& lock) {
    if (!playback_ || playback_->State() != PA_STREAM_READY) {
        return false;
    }
    StreamLevels levels;
    const std::uint32_t index = pa_stream_get_index(playback_->stream);
    if (!pulse_.RunOperation(lock, pa_context_get_sink_input_info(pulse_.Context(), index,
                                                                  &OnSinkInputInfo, &levels)) ||
        !levels.found || levels.volume.channels != 2) {
        return false;
    }
    volume_ = LevelFromPulseVolume(levels.volume.values[0]) |
              (std::uint32_t{LevelFromPulseVolume(levels.volume.values[1])} << 16);
    mute_ = levels.mute;
    return true;
}

MMRESULT PulseSoundOutput::GetVolume(std::uint32_t deviceId, std::uint32_t* volume) {
    if (deviceId != 0 || !volume) {
        return deviceId != 0 ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALPARAM;
    }
    std::unique_lock lock(pulse_.Loop());
    ReadStreamLocked(lock);
    *volume = volume_;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::SetVolume(std::uint32_t deviceId, std::uint32_t volume) {
    if (deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    std::unique_lock lock(pulse_.Loop());
    volume_ = volume;
    if (!playback_ || playback_->State() != PA_STREAM_READY) {
        return MMSYSERR_NOERROR;
    }
    const pa_cvolume cv = StereoVolume(volume);
    const std::uint32_t index = pa_stream_get_index(playback_->stream);
    PulseContext::SetReply reply{&pulse_};
    return pulse_.RunSet(lock,
                         pa_context_set_sink_input_volume(pulse_.Context(), index, &cv,
                                                          &PulseContext::OnSetReply, &reply),
                         reply)
               ? MMSYSERR_NOERROR
               : MMSYSERR_ERROR;
}

MMRESULT PulseSoundOutput::GetPlaybackMute(bool* mute) {
    if (!mute) {
        return MMSYSERR_INVALPARAM;
    }
    std::unique_lock lock(pulse_.Loop());
    ReadStreamLocked(lock);
    *mute = mute_;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::SetPlaybackMute(bool mute) {
    std::unique_lock lock(pulse_.Loop());
    mute_ = mute;
    if (!playback_ || playback_->State() != PA_STREAM_READY) {
        return MMSYSERR_NOERROR;
    }
    const std::uint32_t index = pa_stream_get_index(playback_->stream);
    PulseContext::SetReply reply{&pulse_};
    return pulse_.RunSet(lock,
                         pa_context_set_sink_input_mute(pulse_.Context(), index, mute,
                                                        &PulseContext::OnSetReply, &reply),
                         reply)
               ? MMSYSERR_NOERROR
               : MMSYSERR_ERROR;
}

}  // namespace velmora
