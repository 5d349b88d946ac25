#include "controls/AnalogGauge.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <memory>

namespace velmora {
namespace {

void EnsureApplication() {
    static int argc = 1;
    static char arg0[] = "controls_bench";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app =
        QApplication::instance() == nullptr ? new QApplication(argc, argv) : nullptr;
    (void)app;
}

std::unique_ptr<TAnalogGauge> ConsoleGauge() {
    EnsureApplication();
    auto g = std::make_unique<TAnalogGauge>();
    g->SetBounds(12, 20, 225, 153);
    g->SetCaption(QStringLiteral("Lautstärke"));
    g->SetScale(10);
    g->SetAngle(90);
    g->SetCirclesRadius(2);
    g->SetNumberMainTicks(10);
    g->SetLengthSubTicks(10);
    g->SetIndMaximum(2);
    g->SetIndMinimum(1);
    g->SetFaceColor(clSilver);
    g->SetCenterColor(clLime);
    g->SetArrowWidth(2);
    return g;
}

// One change of the level on the test console's gauge: copy the face, draw the needle and the
// centre disc, paint the display image onto the control's surface.
void BM_GaugePositionChange(benchmark::State& state) {
    auto g = ConsoleGauge();
    float level = 0;
    for (auto _ : state) {
        level = level >= 9.9f ? 0.0f : level + 0.1f;
        g->SetPosition(level);
        benchmark::DoNotOptimize(g->RenderImage().constBits());
    }
}
BENCHMARK(BM_GaugePositionChange);

// Rebuilding the whole face (a face property, the size or the font changed).
void BM_GaugeRenderFace(benchmark::State& state) {
    auto g = ConsoleGauge();
    for (auto _ : state) {
        g->RenderFace();
        benchmark::DoNotOptimize(g->FaceImage().Image().constBits());
    }
}
BENCHMARK(BM_GaugeRenderFace);

}  // namespace
}  // namespace velmora
