#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class PulseContext;

// Records 16-bit stereo from a source of the server (by default the monitor of the default sink)
// into memory: what the program's sound actually became at the sink, for the end-to-end tests
// and the benchmarks.
//
// Lifecycle: `pulse` outlives the capture. Start() connects a record stream and waits until it
// records; destruction or Stop() ends it. Calls come from one thread.
class PulseCapture {
public:
    using Clock = std::chrono::steady_clock;

    // The length of the fragments the server hands over. Short fragments tell more precisely when
    // a frame reached the monitor, but the server then runs its whole graph in cycles that short
    // (PipeWire picks the shortest latency any stream asks for): on a busy machine a cycle it
    // misses drops frames from the recording, or from what the sink plays. The default is as short
    // as a desktop's recorder asks for; the benchmarks, on a quiet machine, ask for shorter ones.
    static constexpr std::chrono::microseconds kSteadyFragment{10000};

    explicit PulseCapture(PulseContext& pulse, std::string source = "@DEFAULT_MONITOR@",
                          std::uint32_t rate = 96000,
                          std::chrono::microseconds fragment = kSteadyFragment);
    ~PulseCapture();

    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    bool Start();
    void Stop();

    std::uint32_t Rate() const { return rate_; }

    // Interleaved left, right samples recorded so far.
    std::vector<std::int16_t> Samples();
    std::size_t Frames();
    void Clear();

    // Waits until at least `frames` more frames than now have been recorded; false on timeout
    // or when the recording broke off.
    bool Record(std::size_t frames, std::chrono::milliseconds timeout);

    // When the first frame with a sample beyond `threshold` arrived here: the arrival of the
    // fragment that holds it. (A sink renders ahead in blocks, so the frame's place in the
    // fragment says nothing about its time.)
    std::optional<Clock::time_point> FirstSoundTime(int threshold);
    // When the frame `frame` (counted since the last Clear) arrived here, as above.
    std::optional<Clock::time_point> ArrivalOf(std::size_t frame);

private:
    struct Recording;

    PulseContext& pulse_;
    std::string source_;
    std::uint32_t rate_;
    std::chrono::microseconds fragment_;
    std::unique_ptr<Recording> recording_;  // changed with the loop locked
};

}  // namespace velmora
