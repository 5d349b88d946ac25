// The test console's first paint on the screen's pixel ratio: run it with QT_SCALE_FACTOR=1 and
// =2 (taking turns, see bench/scale-figures) for the cost of drawing four times the pixels.

#include "app/Unit1.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include "bench/GuiApplication.h"

#include <QApplication>
#include <QEvent>

#include <benchmark/benchmark.h>

#include <memory>

namespace velmora {
namespace {

// Notes the window's first paint event.
class PaintSeen : public QObject {
public:
    explicit PaintSeen(QWidget* window) { window->installEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

// The window built with simulated sound and mixer devices (not timed), then shown until its first
// paint has gone through every control.
void BM_ConsoleFirstPaint(benchmark::State& state) {
    bench::EnsureGuiApplication();
    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    state.counters["ratio"] = qApp->devicePixelRatio();
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<TForm1>(nullptr, sound, mixer);
        PaintSeen seen(window.get());
        state.ResumeTiming();
        window->show();
        while (!seen.painted) {
            QApplication::processEvents();
        }
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConsoleFirstPaint)->Unit(benchmark::kMillisecond);

// The same with the window's building, whose gauge renders its face at the screen's ratio.
void BM_ConsoleBuildAndFirstPaint(benchmark::State& state) {
    bench::EnsureGuiApplication();
    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    for (auto _ : state) {
        auto window = std::make_unique<TForm1>(nullptr, sound, mixer);
        PaintSeen seen(window.get());
        window->show();
        while (!seen.painted) {
            QApplication::processEvents();
        }
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConsoleBuildAndFirstPaint)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
