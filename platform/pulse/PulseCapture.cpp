#include "platform/pulse/PulseCapture.h"

#include "platform/pulse/PulseContext.h"

#include <pulse/pulseaudio.h>

#include <cstdlib>
#include <cstring>

namespace velmora {

struct PulseCapture::Recording {
    struct Fragment {
        std::size_t endFrame;  // frames recorded when the fragment had arrived
        Clock::time_point arrival;
    };

    PulseContext& pulse;
    pa_stream* stream = nullptr;
    std::vector<std::int16_t> samples;
    std::vector<Fragment> fragments;

    explicit Recording(PulseContext& p) : pulse(p) {}

    ~Recording() {
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    }

    static void OnState(pa_stream*, void* self) { static_cast<Recording*>(self)->pulse.Signal(); }

    static void OnRead(pa_stream* stream, std::size_t, void* self) {
        auto* recording = static_cast<Recording*>(self);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0) {
            if (pa_stream_peek(stream, &data, &bytes) < 0) {
                return;
            }
            if (bytes == 0) {
                break;
            }
            const std::size_t count = bytes / sizeof(std::int16_t);
            const std::size_t old = recording->samples.size();
            recording->samples.resize(old + count);
            if (data) {
                std::memcpy(&recording->samples[old], data, count * sizeof(std::int16_t));
            }  // else a hole: silence
            pa_stream_drop(stream);
        }
        recording->fragments.push_back({recording->samples.size() / 2, Clock::now()});
        recording->pulse.Signal();
    }
};

PulseCapture::PulseCapture(PulseContext& pulse, std::string source, std::uint32_t rate,
                           std::chrono::microseconds fragment)
    : pulse_(pulse), source_(std::move(source)), rate_(rate), fragment_(fragment) {}

PulseCapture::~PulseCapture() {
    Stop();
}

bool PulseCapture::Start() {
    std::unique_lock lock(pulse_.Loop());
    recording_.reset();
    if (!pulse_.ConnectLocked(lock)) {
        return false;
    }
    pa_sample_spec sampleFormat;
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = rate_;
    sampleFormat.channels = 2;
    auto recording = std::make_unique<Recording>(pulse_);
    pulse_.WithContext([&](pa_context* c) {
        recording->stream = pa_stream_new(c, "Monitor capture", &sampleFormat, nullptr);
    });
    if (!recording->stream) {
        return false;
    }
    pa_stream_set_state_callback(recording->stream, &Recording::OnState, recording.get());
    pa_stream_set_read_callback(recording->stream, &Recording::OnRead, recording.get());
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(fragment_.count()), &sampleFormat));
    if (pa_stream_connect_record(recording->stream, source_.c_str(), &attr,
                                 PA_STREAM_ADJUST_LATENCY) < 0) {
        return false;
    }
    Recording& r = *recording;
    pulse_.Wait(
        lock, [&] { return pa_stream_get_state(r.stream) != PA_STREAM_CREATING; },
        PulseContext::kRequestTimeout);
    if (pa_stream_get_state(r.stream) != PA_STREAM_READY) {
        return false;
    }
    recording_ = std::move(recording);
    return true;
}

void PulseCapture::Stop() {
    std::unique_lock lock(pulse_.Loop());
    recording_.reset();
}

std::vector<std::int16_t> PulseCapture::Samples() {
    std::unique_lock lock(pulse_.Loop());
    return recording_ ? recording_->samples : std::vector<std::int16_t>{};
}

std::size_t PulseCapture::Frames() {
    std::unique_lock lock(pulse_.Loop());
    return recording_ ? recording_->samples.size() / 2 : 0;
}

void PulseCapture::Clear() {
    std::unique_lock lock(pulse_.Loop());
    if (recording_) {
        recording_->samples.clear();
        recording_->fragments.clear();
    }
}

bool PulseCapture::Record(std::size_t frames, std::chrono::milliseconds timeout) {
    std::unique_lock lock(pulse_.Loop());
    if (!recording_) {
        return false;
    }
    Recording& r = *recording_;
    const std::size_t goal = r.samples.size() / 2 + frames;
    return pulse_.Wait(
               lock,
               [&] {
                   return r.samples.size() / 2 >= goal ||
                          pa_stream_get_state(r.stream) != PA_STREAM_READY;
               },
               timeout) &&
           r.samples.size() / 2 >= goal;
}

std::optional<PulseCapture::Clock::time_point> PulseCapture::FirstSoundTime(int threshold) {
    std::size_t first = 0;
    {
        std::unique_lock lock(pulse_.Loop());
        if (!recording_) {
            return std::nullopt;
        }
        const std::vector<std::int16_t>& samples = recording_->samples;
        while (first < samples.size() && std::abs(samples[first]) <= threshold) {
            ++first;
        }
        if (first == samples.size()) {
            return std::nullopt;
        }
    }
    return ArrivalOf(first / 2);
}

std::optional<PulseCapture::Clock::time_point> PulseCapture::ArrivalOf(std::size_t frame) {
    std::unique_lock lock(pulse_.Loop());
    if (!recording_) {
        return std::nullopt;
    }
    for (const Recording::Fragment& fragment : recording_->fragments) {
        if (fragment.endFrame > frame) {
            return fragment.arrival;
        }
    }
    return std::nullopt;
}

}  // namespace velmora
