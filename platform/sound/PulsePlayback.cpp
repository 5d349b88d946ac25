#include "platform/sound/PulsePlayback.h"

#include "platform/pulse/PulseShared.h"

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

// Target buffer of the stream, and the parts it is refilled in: the server asks for a part as soon
// as one is free, so the loop thread has the rest, about 105 ms, to answer before the server runs
// out of frames. On a machine busy with something else (a report being typed, a build) a thread of
// ordinary priority, ours or the server's own, can wait tens of milliseconds; with 30 ms refilled
// in 10 ms parts the tone had gaps there, heard as clicks. A long buffer delays nothing: a new
// stream starts from its first frame, and a change of gain rewrites the frames from just after
// the server's read position. The server keeps most of it on its side: with these parts it
// drives the output in quanta of (buffer - 2 parts) / 2, 5 ms, as it did with 30 and 10 ms.
constexpr pa_usec_t kTargetLatencyUsec = 200000;
constexpr pa_usec_t kRefillUsec = 95000;

// A change of gain starts this long after the server's read position: the frames before it may
// already be on their way into the mix. PipeWire takes a stream's frames a quantum at a time
// (5.3 ms: 256 frames at 48 kHz) and tells a read position that may be a quantum old; with a
// margin of less than a quantum, the start of a fade was now and then mixed at the old gain and
// the rest joined it with a step, a click (about -57 dB under the tone, on a quiet machine).
constexpr std::chrono::microseconds kRewriteMargin{7000};

// How often the read position is asked for while waiting for it.
constexpr std::chrono::milliseconds kPollInterval{2};

}  // namespace

PulsePlayback::PulsePlayback(PulseContext& pulse, const PulseSound& sound, std::int64_t fadeIn,
                             std::array<double, 2> channels, std::uint64_t* underflows,
                             std::function<void()> lost)
    : pulse_(pulse),
      frames_(sound.frames),
      format_(sound.format),
      frameSize_(pa_frame_size(&sound.format)),
      loop_(sound.loop),
      gain_(fadeIn > 0 ? 0.0 : 1.0),
      channels_(channels),
      underflows_(underflows),
      lost_(std::move(lost)) {
    gain_.RampTo(0, 1.0, fadeIn);
}

PulsePlayback::~PulsePlayback() {
    operations_.CancelAll();
    if (drain_) {
        if (pa_operation_get_state(drain_) == PA_OPERATION_RUNNING) {
            pa_operation_cancel(drain_);
        }
        pa_operation_unref(drain_);
    }
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
}

bool PulsePlayback::Connect(std::unique_lock<PulseLoopLock>& lock, const std::string& sink,
                            const pa_cvolume& volume, bool mute) {
    // What the stream is, for mixers and session managers: a test tone, not music.
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "Testton");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "test");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ICON_NAME, "velmora");
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pulse_.WithContext([&](pa_context* c) {
        stream_ = pa_stream_new_with_proplist(c, "Testton", &format_, &map, properties);
    });
    pa_proplist_free(properties);
    if (!stream_) {
        return false;
    }
    pa_stream_set_state_callback(stream_, &PulsePlayback::OnState, this);
    pa_stream_set_write_callback(stream_, &PulsePlayback::OnWrite, this);
    pa_stream_set_underflow_callback(stream_, &PulsePlayback::OnUnderflow, this);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatencyUsec, &format_));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRefillUsec, &format_));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // Corked until the owner has checked the stream's volume: some servers ignore the volume
    // given here and put back one they stored for the program instead.
    auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED |
                                       (mute ? PA_STREAM_START_MUTED : PA_STREAM_START_UNMUTED) |
                                       (sink.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_playback(stream_, sink.empty() ? nullptr : sink.c_str(), &attr, flags,
                                   &volume, nullptr) < 0) {
        qCWarning(lcPulse) << "PlaySound: the stream could not be connected";
        return false;
    }
    pulse_.Wait(
        lock, [&] { return State() != PA_STREAM_CREATING; }, PulseContext::kRequestTimeout);
    if (State() == PA_STREAM_READY) {
        return true;
    }
    qCWarning(lcPulse) << "PlaySound: the server did not accept the stream";
    if (State() == PA_STREAM_CREATING) {
        pulse_.Abandon();
    }
    return false;
}

std::uint32_t PulsePlayback::Index() const {
    return Ready() ? pa_stream_get_index(stream_) : PA_INVALID_INDEX;
}

std::uint32_t PulsePlayback::SinkIndex() const {
    return Ready() ? pa_stream_get_device_index(stream_) : PA_INVALID_INDEX;
}

std::string PulsePlayback::SinkName() const {
    const char* name = Ready() ? pa_stream_get_device_name(stream_) : nullptr;
    return name ? name : "";
}

bool PulsePlayback::Cork(std::unique_lock<PulseLoopLock>& lock, bool cork) {
    if (!Ready()) {
        return false;
    }
    PulseContext::SetReply reply{&pulse_};
    return pulse_.RunSet(lock,
                         pa_stream_cork(
                             stream_, cork ? 1 : 0,
                             [](pa_stream*, int success, void* data) {
                                 PulseContext::OnSetReply(nullptr, success, data);
                             },
                             &reply),
                         reply);
}

std::size_t PulsePlayback::Render(std::int64_t frame, std::uint8_t* out, std::size_t bytes) const {
    const auto total = static_cast<std::int64_t>(Frames());
    std::size_t done = 0;
    std::int64_t at = frame;
    while (done + frameSize_ <= bytes) {
        if (!loop_ && at >= total) {
            break;
        }
        const std::int64_t position = at % total;
        const std::size_t frames = std::min<std::size_t>(
            (bytes - done) / frameSize_, static_cast<std::size_t>(total - position));
        std::memcpy(out + done, &frames_[static_cast<std::size_t>(position) * frameSize_],
                    frames * frameSize_);
        done += frames * frameSize_;
        at += static_cast<std::int64_t>(frames);
    }
    gain_.Apply({out, done}, format_.format == PA_SAMPLE_S16LE ? 16 : 8, 2, frame, channels_);
    return done;
}

// Loop thread: writes what the server asks for; a loop wraps to the first frame without a gap.
void PulsePlayback::Fill(std::size_t requested) {
    while (requested >= frameSize_ && !allWritten_) {
        std::size_t size = requested;
        void* buffer = nullptr;
        if (pa_stream_begin_write(stream_, &buffer, &size) < 0 || !buffer) {
            return;
        }
        size -= size % frameSize_;
        const std::size_t written = Render(written_, static_cast<std::uint8_t*>(buffer), size);
        if (written == 0) {
            pa_stream_cancel_write(stream_);
            allWritten_ = true;
            break;
        }
        pa_stream_write(stream_, buffer, written, nullptr, 0, PA_SEEK_RELATIVE);
        written_ += static_cast<std::int64_t>(written / frameSize_);
        requested -= std::min(requested, written);
        if (!loop_ && written_ >= static_cast<std::int64_t>(Frames())) {
            allWritten_ = true;
        }
    }
    if (allWritten_ && !drain_) {
        drain_ = pa_stream_drain(stream_, &PulsePlayback::OnDrained, this);
    }
}

std::optional<std::int64_t> PulsePlayback::ReadFrame(std::unique_lock<PulseLoopLock>& lock) {
    if (!Ready() || !pulse_.RunOperation(lock, pa_stream_update_timing_info(
                                                   stream_,
                                                   [](pa_stream*, int, void* data) {
                                                       static_cast<PulseContext*>(data)->Signal();
                                                   },
                                                   &pulse_))) {
        return std::nullopt;
    }
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (!timing || timing->read_index_corrupt) {
        return std::nullopt;
    }
    return std::max<std::int64_t>(timing->read_index, 0) / static_cast<std::int64_t>(frameSize_);
}

std::int64_t PulsePlayback::RampStart(std::optional<std::int64_t> read) const {
    const auto margin = static_cast<std::int64_t>(pa_usec_to_bytes(
                            static_cast<pa_usec_t>(kRewriteMargin.count()), &format_)) /
                        static_cast<std::int64_t>(frameSize_);
    if (!read) {
        return written_;  // without the read position, only the frames not yet written change
    }
    // The server went on reading after it told the position: on a busy machine its answer can wait
    // several milliseconds for this thread, and a fade planned from the position as told would
    // start among frames the server has already mixed (the rest joins them with a step, a click).
    std::int64_t since = 0;
    if (const pa_timing_info* timing = Ready() ? pa_stream_get_timing_info(stream_) : nullptr) {
        since = static_cast<std::int64_t>(
                    pa_usec_to_bytes(pa_timeval_age(&timing->timestamp), &format_)) /
                static_cast<std::int64_t>(frameSize_);
    }
    return std::min(*read + margin + since, written_);
}

std::int64_t PulsePlayback::RampTo(std::unique_lock<PulseLoopLock>& lock, double gain,
                                   std::int64_t frames) {
    const std::uint64_t serial = ++plans_;
    planned_ = Plan{gain, frames, serial};
    const std::optional<std::int64_t> read = ReadFrame(lock);
    // Meanwhile a ramp without waiting may have taken this plan, or brought a later one, which
    // then holds.
    if (!planned_ || planned_->serial != serial) {
        return gain_.SettledAt();
    }
    const Plan plan = *planned_;
    planned_.reset();
    return Ramp(RampStart(read), plan);
}

void PulsePlayback::RampSoon(double gain, std::int64_t frames) {
    planned_ = Plan{gain, frames, ++plans_};
    if (!Ready()) {
        Ramp(written_, *planned_);
        planned_.reset();
        return;
    }
    operations_.Track(pa_stream_update_timing_info(stream_, &PulsePlayback::OnTimingForRamp, this));
}

void PulsePlayback::OnTimingForRamp(pa_stream*, int success, void* self) {
    auto* playback = static_cast<PulsePlayback*>(self);
    if (!playback->planned_) {
        return;  // replaced by a ramp made meanwhile
    }
    const Plan plan = *playback->planned_;
    playback->planned_.reset();
    std::optional<std::int64_t> read;
    const pa_timing_info* timing =
        success && playback->Ready() ? pa_stream_get_timing_info(playback->stream_) : nullptr;
    if (timing && !timing->read_index_corrupt) {
        read = std::max<std::int64_t>(timing->read_index, 0) /
               static_cast<std::int64_t>(playback->frameSize_);
    }
    playback->Ramp(playback->RampStart(read), plan);
    playback->pulse_.Signal();
}

std::int64_t PulsePlayback::Ramp(std::int64_t start, const Plan& plan) {
    gain_.RampTo(start, plan.gain, plan.frames);
    if (start < written_ && Ready()) {
        std::vector<std::uint8_t> again(static_cast<std::size_t>(written_ - start) * frameSize_);
        const std::size_t bytes = Render(start, again.data(), again.size());
        if (bytes > 0) {
            pa_stream_write(stream_, again.data(), bytes, nullptr,
                            start * static_cast<std::int64_t>(frameSize_), PA_SEEK_ABSOLUTE);
        }
    }
    return gain_.SettledAt();
}

bool PulsePlayback::WaitTaken(std::unique_lock<PulseLoopLock>& lock, std::int64_t frame,
                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::optional<std::int64_t> read = ReadFrame(lock);
        if (!read) {
            return false;
        }
        // A sound that does not loop is taken whole once it has been played out.
        if (*read >= frame || drained_) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pulse_.Wait(
            lock, [] { return false; }, kPollInterval);
    }
}

bool PulsePlayback::NothingTaken(std::unique_lock<PulseLoopLock>& lock) {
    const std::optional<std::int64_t> read = ReadFrame(lock);
    return read && *read == 0;
}

void PulsePlayback::Disconnect(std::unique_lock<PulseLoopLock>& lock) {
    stopping_ = true;
    if (!stream_) {
        return;
    }
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (State() == PA_STREAM_READY || State() == PA_STREAM_CREATING) {
        // Waits for the server to drop the stream, so the sound has ended when Stop returns.
        pa_stream_disconnect(stream_);
        if (!pulse_.Wait(
                lock, [&] { return !PA_STREAM_IS_GOOD(State()); }, PulseContext::kRequestTimeout)) {
            pulse_.Abandon();
        }
    }
}

bool PulsePlayback::WaitDrained(std::unique_lock<PulseLoopLock>& lock,
                                std::chrono::milliseconds timeout) {
    pulse_.Wait(
        lock, [&] { return drained_ || State() != PA_STREAM_READY; }, timeout);
    return drained_;
}

void PulsePlayback::OnWrite(pa_stream*, std::size_t requested, void* self) {
    static_cast<PulsePlayback*>(self)->Fill(requested);
}

// A looping stream that fails or ends without the program stopping it was lost: with the
// server, or with the output it was bound to.
void PulsePlayback::OnState(pa_stream* stream, void* self) {
    auto* playback = static_cast<PulsePlayback*>(self);
    if (playback->loop_ && !playback->stopping_ && !playback->lossPosted_ &&
        !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        playback->lossPosted_ = true;
        if (playback->lost_) {
            playback->lost_();
        }
    }
    playback->pulse_.Signal();
}

// The server ran out of frames (the loop thread was not scheduled in time): a gap.
void PulsePlayback::OnUnderflow(pa_stream*, void* self) {
    auto* playback = static_cast<PulsePlayback*>(self);
    if (playback->loop_ || !playback->allWritten_) {
        ++*playback->underflows_;
    }
}

void PulsePlayback::OnDrained(pa_stream*, int success, void* self) {
    auto* playback = static_cast<PulsePlayback*>(self);
    playback->drained_ = success != 0;
    playback->pulse_.Signal();
}

}  // namespace velmora
