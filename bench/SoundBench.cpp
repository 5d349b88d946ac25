// The PulseAudio sound output on a daemon of the benchmark's own (a null sink at 96 kHz):
// how long PlaySound holds the caller, the time from the call to the first frame at the sink's
// monitor, and the processor time while the test tone loops.

#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/PulseDaemon.h"
#include "tests/support/WaveBuilder.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <thread>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLoopFlags = SND_MEMORY | SND_ASYNC | SND_LOOP;

// One daemon and one connection for all benchmarks of the run.
struct Server {
    test::PulseDaemon daemon;
    std::unique_ptr<PulseContext> pulse;
    std::unique_ptr<PulseSoundOutput> sound;

    explicit Server(bool renderAhead = false) {
        if (renderAhead) {
            daemon.RenderAhead();
        }
        if (daemon.Start()) {
            pulse = std::make_unique<PulseContext>(daemon.Server());
            sound = std::make_unique<PulseSoundOutput>(*pulse);
        }
    }
    bool Ready() { return pulse && pulse->Connect(); }
};

Server& TheServer() {
    static Server server;
    return server;
}

// The test console's tone: 1000 Hz, 10 ms, 16-bit stereo, 96 kHz.
const std::vector<std::uint8_t>& TestTone() {
    static const auto image = test::SineImage(1000.0, 960);
    return image;
}

// What a change of the tone right after it started holds the caller, on the benchmark's
// sink and on one that renders far ahead (a null sink with rewinds), whose new streams are read
// only after what it has rendered: nothing of the first tone has been heard when it changes.
void BM_ToneChangedRightAfterItStarted(benchmark::State& state) {
    static Server renderAhead(true);
    Server& server = state.range(0) != 0 ? renderAhead : TheServer();
    if (!server.Ready()) {
        state.SkipWithError("pulseaudio could not be started");
        return;
    }
    static const auto other = test::SineImage(2000.0, 960);
    for (auto _ : state) {
        state.PauseTiming();
        server.sound->PlaySound(TestTone(), kLoopFlags);
        state.ResumeTiming();
        benchmark::DoNotOptimize(server.sound->PlaySound(other, kLoopFlags));
    }
    server.sound->PlaySound({}, 0);
}
BENCHMARK(BM_ToneChangedRightAfterItStarted)
    ->ArgName("render_ahead")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_PlaySoundCall(benchmark::State& state) {
    Server& server = TheServer();
    if (!server.Ready()) {
        state.SkipWithError("pulseaudio could not be started");
        return;
    }
    server.sound->PlaySound(TestTone(), kLoopFlags);
    for (auto _ : state) {
        // The tone has been heard a while, as when the operator changes the stimulus.
        state.PauseTiming();
        std::this_thread::sleep_for(50ms);
        state.ResumeTiming();
        // What a stimulus change costs the user interface thread: stop, then a new loop.
        server.sound->PlaySound({}, 0);
        benchmark::DoNotOptimize(server.sound->PlaySound(TestTone(), kLoopFlags));
    }
    server.sound->PlaySound({}, 0);
}
BENCHMARK(BM_PlaySoundCall)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_CallToFirstFrameAtTheSink(benchmark::State& state) {
    Server& server = TheServer();
    if (!server.Ready()) {
        state.SkipWithError("pulseaudio could not be started");
        return;
    }
    // Short fragments: arrival times to 2 ms, on the quiet machine benchmarks are run on.
    PulseCapture capture(*server.pulse, "@DEFAULT_MONITOR@", 96000,
                         std::chrono::microseconds{2000});
    if (!capture.Start()) {
        state.SkipWithError("the monitor could not be recorded");
        return;
    }
    for (auto _ : state) {
        server.sound->PlaySound({}, 0);
        // Let frames of the previous tone pass before listening anew.
        capture.Record(4800, 1s);
        capture.Clear();
        const auto start = Clock::now();
        server.sound->PlaySound(TestTone(), kLoopFlags);
        std::optional<Clock::time_point> first;
        for (int i = 0; i < 200 && !first; ++i) {
            capture.Record(96, 100ms);
            first = capture.FirstSoundTime(0);
        }
        if (!first) {
            state.SkipWithError("the tone did not reach the sink");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*first - start).count());
    }
    server.sound->PlaySound({}, 0);
}
BENCHMARK(BM_CallToFirstFrameAtTheSink)
    ->UseManualTime()
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond);

double ProcessSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    double ticks = 0;
    // utime and stime are fields 14 and 15; the command name (field 2) has no blanks here.
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double OwnSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_ProcessorWhileTheToneLoops(benchmark::State& state) {
    Server& server = TheServer();
    if (!server.Ready()) {
        state.SkipWithError("pulseaudio could not be started");
        return;
    }
    server.sound->PlaySound(TestTone(), kLoopFlags);
    std::this_thread::sleep_for(200ms);
    double own = 0;
    double daemon = 0;
    double wall = 0;
    for (auto _ : state) {
        const double own0 = OwnSeconds();
        const double daemon0 = ProcessSeconds(server.daemon.Pid());
        const auto start = Clock::now();
        std::this_thread::sleep_for(2s);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        own += OwnSeconds() - own0;
        daemon += ProcessSeconds(server.daemon.Pid()) - daemon0;
        wall += seconds;
        state.SetIterationTime(seconds);
    }
    server.sound->PlaySound({}, 0);
    state.counters["program_cpu_percent"] = 100.0 * own / wall;
    state.counters["server_cpu_percent"] = 100.0 * daemon / wall;
}
BENCHMARK(BM_ProcessorWhileTheToneLoops)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velmora
