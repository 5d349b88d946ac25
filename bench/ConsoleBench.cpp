// The test console on a PulseAudio daemon of the benchmark's own (a null sink at 96 kHz; or a
// PipeWire stack with VELMORA_BENCH_SERVER=pipewire), built
// as the program builds it (real sound output and mixer): from a click on "2000 Hz" to the first
// frame of the new tone at the sink's monitor.
//
// A click is driven as the framework delivers it, by checking the radio button, which runs
// RadioButton8Click. That handler puts both level bars back to 0, so the new tone cannot be heard
// until the level is raised again. Two measurements:
// - ClickToNewToneAtTheSink: the bars already stand at 0 and the speaker volume was set to 100 %
//   beside them, so the handler leaves the volume alone: stop, new 40 ms image, play. The time
//   until the new tone's first frame arrives from the monitor.
// - ClickAndRaiseToNewToneAtTheSink: the level stands at 9 before the click; the click sets it to
//   0, and right after the handler the coarse bar goes back to 9, as fast as no operator could.
//   The time from the click until the new tone's first frame arrives, which includes the two
//   speaker volume changes: an upper bound.
// - LevelStepToSteadyLevel: at 4000 Hz, the coarse bar from one level to another (0 to 3, the
//   first step an operator makes, and 3 to 4, between two audible levels): the time from the
//   handler's call until the frame from which the tone stays within 1 dB of its new level arrives
//   from the monitor (counter median_ms), and the loudest energy below 2000 Hz in any 20 ms
//   around the step, in dB under the steady tone (counter low_band_db): how audible the step
//   is as a click to an ear that hears 2000 Hz better than 4000 Hz.

#include "GuiApplication.h"

#include "app/Unit1.h"
#include "audio/SSVolumeController.h"
#include "controls/ExTrackBar.h"
#include "framework/RadioButton.h"
#include "platform/mixer/PulseMixerDevice.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/PulseDaemon.h"
#include "tests/support/ToneAnalysis.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kRate = 96000.0;

// The server of the run: PulseAudio, or PipeWire with VELMORA_BENCH_SERVER=pipewire.
test::SoundServer BenchServer() {
    const char* server = std::getenv("VELMORA_BENCH_SERVER");
    return server && std::string_view(server) == "pipewire" ? test::SoundServer::PipeWire
                                                            : test::SoundServer::PulseAudio;
}

// The window on a daemon of its own, one for all benchmarks of the run.
struct Console {
    test::PulseDaemon daemon{BenchServer()};
    std::unique_ptr<PulseContext> pulse;
    std::unique_ptr<PulseSoundOutput> sound;
    std::unique_ptr<PulseMixerDevice> mixer;
    std::unique_ptr<TForm1> window;

    Console() {
        bench::EnsureGuiApplication();
        if (daemon.Start()) {
            pulse = std::make_unique<PulseContext>(daemon.Server());
            if (pulse->Connect()) {
                sound = std::make_unique<PulseSoundOutput>(*pulse);
                mixer = std::make_unique<PulseMixerDevice>(*pulse, *sound);
                window = std::make_unique<TForm1>(nullptr, *sound, *mixer);
            }
        }
    }
};

Console& TheConsole() {
    static Console console;
    return console;
}

// The first frame from `from` on where the left channel is a clean sine of `frequency` for two
// of its periods and louder than `floor`: a seam, silence or another frequency does not pass.
std::optional<std::size_t> FindTone(const std::vector<std::int16_t>& stereo, double frequency,
                                    double floor, std::size_t from) {
    const std::size_t frames = stereo.size() / 2;
    const auto window = static_cast<std::size_t>(2 * kRate / frequency);
    const double c = 2.0 * std::cos(2.0 * M_PI * frequency / kRate);
    const auto x = [&](std::size_t frame) { return double(stereo[2 * frame]); };
    for (std::size_t start = std::max<std::size_t>(from, 1); start + window + 1 <= frames;
         ++start) {
        double peak = 0.0;
        double residual = 0.0;
        for (std::size_t n = start; n < start + window; ++n) {
            peak = std::max(peak, std::abs(x(n)));
            residual = std::max(residual, std::abs(x(n + 1) - c * x(n) + x(n - 1)));
        }
        // A sine of a neighbouring test frequency leaves a residual of about a hundredth of its
        // amplitude; rounding leaves a few steps.
        if (peak > floor && residual < 0.003 * peak + 4.0) {
            return start;
        }
    }
    return std::nullopt;
}

// Waits (at most 2 s) for the tone of `frequency` at the monitor: when the fragment that holds
// its first frame arrived here.
std::optional<Clock::time_point> ArrivalOfTone(PulseCapture& capture, double frequency,
                                               double floor) {
    struct Arrival {
        std::size_t frames;
        Clock::time_point at;
    };
    std::vector<Arrival> arrivals;
    const auto window = static_cast<std::size_t>(2 * kRate / frequency);
    std::size_t from = 0;  // windows before this one were looked at
    const auto deadline = Clock::now() + 2s;
    while (Clock::now() < deadline) {
        capture.Record(96, 100ms);
        arrivals.push_back({capture.Frames(), Clock::now()});
        const auto samples = capture.Samples();
        if (const auto first = FindTone(samples, frequency, floor, from)) {
            for (const Arrival& arrival : arrivals) {
                if (arrival.frames > *first) {
                    return arrival.at;
                }
            }
        }
        const std::size_t frames = samples.size() / 2;
        from = frames > window + 1 ? frames - window - 1 : 0;
    }
    return std::nullopt;
}

// Plays the frames of whatever sounded before, then forgets them.
void Settle(PulseCapture& capture) {
    QCoreApplication::processEvents();
    capture.Record(4800, 1s);
    capture.Clear();
}

// A recording of the sink's monitor beside the window; none (the benchmark skipped) when the
// window or the recording could not be had.
std::unique_ptr<PulseCapture> Monitor(Console& console, benchmark::State& state) {
    if (!console.window) {
        state.SkipWithError("the sound server could not be started");
        return nullptr;
    }
    // Short fragments: arrival times to 2 ms, on the quiet machine benchmarks are run on.
    auto capture = std::make_unique<PulseCapture>(*console.pulse, "@DEFAULT_MONITOR@", 96000,
                                                  std::chrono::microseconds{2000});
    if (!capture->Start()) {
        state.SkipWithError("the monitor could not be recorded");
        return nullptr;
    }
    return capture;
}

void RunClicks(benchmark::State& state, bool raiseAfterwards) {
    Console& console = TheConsole();
    const std::unique_ptr<PulseCapture> monitor = Monitor(console, state);
    if (!monitor) {
        return;
    }
    TForm1& w = *console.window;
    PulseCapture& capture = *monitor;
    double handler = 0.0;
    for (auto _ : state) {
        // From 1000 Hz, heard at the level of each measurement.
        w.RadioButton7->SetChecked(true);
        if (raiseAfterwards) {
            w.ExTrackBar1->SetPosition(9);
        } else {
            w.AudioTools1->SetVolume(100);
        }
        Settle(capture);
        // Level 9 is 90 % on the server's cubic scale: 0.73 of full scale. The search must not
        // take the tone before the click for the new one.
        const double floor = raiseAfterwards ? 10000.0 : 20000.0;
        capture.Record(960, 1s);
        if (FindTone(capture.Samples(), 2000.0, floor, 0)) {
            state.SkipWithError("2000 Hz was found before the click: the search is unsound");
            break;
        }
        capture.Clear();

        const auto start = Clock::now();
        w.RadioButton8->SetChecked(true);
        handler += std::chrono::duration<double>(Clock::now() - start).count();
        if (raiseAfterwards) {
            w.ExTrackBar1->SetPosition(9);
        }
        const auto first = ArrivalOfTone(capture, 2000.0, floor);
        if (!first) {
            state.SkipWithError("the new tone did not reach the sink");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*first - start).count());
    }
    if (state.iterations() > 0) {
        state.counters["handler_ms"] = 1000.0 * handler / static_cast<double>(state.iterations());
    }
    w.ExTrackBar1->SetPosition(0);
    QCoreApplication::processEvents();
}

void BM_ClickToNewToneAtTheSink(benchmark::State& state) {
    RunClicks(state, false);
}
BENCHMARK(BM_ClickToNewToneAtTheSink)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

void BM_ClickAndRaiseToNewToneAtTheSink(benchmark::State& state) {
    RunClicks(state, true);
}
BENCHMARK(BM_ClickAndRaiseToNewToneAtTheSink)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

void BM_LevelStepToSteadyLevel(benchmark::State& state) {
    Console& console = TheConsole();
    const std::unique_ptr<PulseCapture> monitor = Monitor(console, state);
    if (!monitor) {
        return;
    }
    TForm1& w = *console.window;
    PulseCapture& capture = *monitor;
    const int from = static_cast<int>(state.range(0));
    const int to = static_cast<int>(state.range(1));
    w.RadioButton9->SetChecked(true);                          // 4000 Hz
    const auto window = static_cast<std::size_t>(kRate / 50);  // 20 ms
    std::vector<double> times;
    double worst = -400.0;
    for (auto _ : state) {
        w.ExTrackBar1->SetPosition(from);
        Settle(capture);
        capture.Record(4800, 1s);
        const auto start = Clock::now();
        w.ExTrackBar1->SetPosition(to);
        const auto called = Clock::now();
        while (Clock::now() - called < 250ms) {
            QCoreApplication::processEvents();
            capture.Record(480, 20ms);
        }
        const std::vector<double> x = test::Channel(capture.Samples(), 0);
        const auto tail = std::span(x).last(window);
        const std::size_t settled = test::SettledFrom(x, 96, test::Rms(tail), 0.12);
        const auto arrival = capture.ArrivalOf(settled);
        if (!arrival) {
            state.SkipWithError("the level did not settle");
            break;
        }
        const double seconds = std::chrono::duration<double>(*arrival - start).count();
        times.push_back(seconds * 1000.0);
        state.SetIterationTime(seconds);
        for (std::size_t at = 0; at + window <= x.size(); at += window / 20) {
            worst = std::max(
                worst, test::LowBandDb(std::span(x).subspan(at, window), tail, kRate, 2000.0));
        }
        capture.Clear();
    }
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        state.counters["median_ms"] = times[times.size() / 2];
        state.counters["low_band_db"] = worst;
    }
    w.ExTrackBar1->SetPosition(0);
    w.RadioButton7->SetChecked(true);
    QCoreApplication::processEvents();
}
BENCHMARK(BM_LevelStepToSteadyLevel)
    ->Args({0, 3})
    ->Args({3, 4})
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
