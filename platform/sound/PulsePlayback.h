#pragma once

// One sound on a PulseAudio server: its stream, the frames it plays and the gain they are
// played with. A backend unit of PulseSoundOutput; nothing else includes it.

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseOperations.h"
#include "platform/sound/GainRamp.h"

#include <pulse/pulseaudio.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// A sound as a stream plays it: two-channel frames in the image's sample format.
struct PulseSound {
    std::vector<std::uint8_t> frames;
    pa_sample_spec format{};
    bool loop = false;
};

// The stream of one sound. Created, used and destroyed with the loop locked; the library's
// callbacks run on the loop thread. Nothing is asked of a stream that is not ready (one whose
// connection was dropped, say): the calls then do nothing and report failure.
//
// Frames are written ahead of the server (a short buffer). A change of gain is planned from a
// few milliseconds after the server's read position and the frames already written from there on
// are written again, so a fade starts at once rather than after the buffer; the server takes the
// new frames in place of the old ones. Frame n of the stream is frame n (modulo the length, for a
// loop) of the sound, so what is written again joins seamlessly.
class PulsePlayback {
public:
    // `lost` is called on the loop thread, once, when a looping stream fails or ends without
    // being stopped (the server went away, or the output it played on was removed). The sound
    // starts with a fade-in of `fadeIn` frames (none: at full gain). Each channel is scaled by
    // its gain in `channels` (0 is digital silence).
    PulsePlayback(PulseContext& pulse, const PulseSound& sound, std::int64_t fadeIn,
                  std::array<double, 2> channels, std::uint64_t* underflows,
                  std::function<void()> lost);
    ~PulsePlayback();

    PulsePlayback(const PulsePlayback&) = delete;
    PulsePlayback& operator=(const PulsePlayback&) = delete;

    // Connects the stream, corked, with the volume and mute asked for: to the sink `sink`, which
    // the server then must not move it from (the stream fails when that sink goes), or with an
    // empty name to the server's default sink. Waits until the server has made it ready.
    bool Connect(std::unique_lock<PulseLoopLock>& lock, const std::string& sink,
                 const pa_cvolume& volume, bool mute);

    pa_stream_state_t State() const {
        return stream_ ? pa_stream_get_state(stream_) : PA_STREAM_UNCONNECTED;
    }
    bool Ready() const { return stream_ && State() == PA_STREAM_READY; }
    // The stream's and its output's index on the server; PA_INVALID_INDEX when not ready.
    std::uint32_t Index() const;
    std::uint32_t SinkIndex() const;
    std::string SinkName() const;
    bool Loop() const { return loop_; }
    bool Drained() const { return drained_; }
    bool AllWritten() const { return allWritten_; }
    std::size_t Frames() const { return frames_.size() / frameSize_; }
    std::uint32_t Rate() const { return format_.rate; }

    bool Cork(std::unique_lock<PulseLoopLock>& lock, bool cork);

    // The gain the frames are played with from now on, reached along a ramp of `frames` frames
    // that starts shortly after the server's read position, asked for and waited for. Returns
    // the frame at which the ramp ends.
    std::int64_t RampTo(std::unique_lock<PulseLoopLock>& lock, double gain, std::int64_t frames);
    // The same without waiting, for the loop thread: the ramp starts shortly after the read
    // position the server reports next. A later ramp of either kind replaces it.
    void RampSoon(double gain, std::int64_t frames);
    // The gain asked for last (also while its ramp waits for the read position).
    double TargetGain() const { return planned_ ? planned_->gain : gain_.Target(); }

    // The channels' gains of the frames not yet written and of those a ramp writes again.
    void SetChannelGains(std::array<double, 2> channels) { channels_ = channels; }

    // Waits until the server has taken the frames before `frame` from the stream (and so mixed
    // them with the output's volume as it was). False on timeout or when the stream broke off.
    bool WaitTaken(std::unique_lock<PulseLoopLock>& lock, std::int64_t frame,
                   std::chrono::milliseconds timeout);

    // Whether the server has read nothing of the stream yet, so that nothing of it was heard.
    bool NothingTaken(std::unique_lock<PulseLoopLock>& lock);

    // Ends the stream and waits until the server dropped it.
    void Disconnect(std::unique_lock<PulseLoopLock>& lock);

    // Waits until a sound that does not loop has been played out.
    bool WaitDrained(std::unique_lock<PulseLoopLock>& lock, std::chrono::milliseconds timeout);

private:
    struct Plan {
        double gain;
        std::int64_t frames;
        std::uint64_t serial;
    };

    std::optional<std::int64_t> ReadFrame(std::unique_lock<PulseLoopLock>& lock);
    // The frame from which a ramp may start, `read` being the server's read position.
    std::int64_t RampStart(std::optional<std::int64_t> read) const;
    // Plans the ramp from `start` and writes the frames from there again.
    std::int64_t Ramp(std::int64_t start, const Plan& plan);

    // Frames from `frame` on, as many as fit in `bytes`, with the gain applied; fewer at the end
    // of a sound that does not loop.
    std::size_t Render(std::int64_t frame, std::uint8_t* out, std::size_t bytes) const;
    void Fill(std::size_t requested);

    static void OnWrite(pa_stream* stream, std::size_t requested, void* self);
    static void OnState(pa_stream* stream, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);
    static void OnTimingForRamp(pa_stream* stream, int success, void* self);

    PulseContext& pulse_;
    std::vector<std::uint8_t> frames_;
    pa_sample_spec format_;
    std::size_t frameSize_;
    bool loop_;
    GainRamp gain_;
    std::array<double, 2> channels_;
    std::optional<Plan> planned_;  // the latest ramp asked for, waiting for the read position
    std::uint64_t plans_ = 0;
    PulseOperations operations_;  // timing requests of ramps that do not wait
    std::int64_t written_ = 0;    // frames written into the stream
    bool allWritten_ = false;
    bool drained_ = false;
    bool stopping_ = false;  // ended by the program, not lost
    bool lossPosted_ = false;
    pa_stream* stream_ = nullptr;
    pa_operation* drain_ = nullptr;
    std::uint64_t* underflows_;
    std::function<void()> lost_;
};

}  // namespace velmora
