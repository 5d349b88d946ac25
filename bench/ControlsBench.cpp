#include "controls/AnalogGauge.h"
#include "controls/Hemibtn.h"

#include "bench/GuiApplication.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace velmora {
namespace {

using bench::EnsureGuiApplication;

std::unique_ptr<TAnalogGauge> ConsoleGauge() {
    EnsureGuiApplication();
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

// Rendering the three images of a round button with the test console's settings (green face,
// one lowered bevel of 2): the threshold button's 41 x 41 and a large 400 x 400.
void BM_HemisphereBuildImages(benchmark::State& state) {
    EnsureGuiApplication();
    THemisphereButton b;
    const int size = int(state.range(0));
    b.SetBounds(0, 0, size, size);
    b.SetFaceColor(RGB(0, 128, 0));
    for (auto _ : state) {
        b.BuildImages();
        benchmark::DoNotOptimize(b.ImageOut().Image().constBits());
    }
}
BENCHMARK(BM_HemisphereBuildImages)->Arg(41)->Arg(400)->Unit(benchmark::kMicrosecond);

// Painting the pressed button over its parent's drawing (four block operations).
void BM_HemispherePaint(benchmark::State& state) {
    EnsureGuiApplication();
    THemisphereButton b;
    b.SetBounds(0, 0, 41, 41);
    b.SetFaceColor(RGB(0, 128, 0));
    b.SetDown(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.RenderImage().constBits());
    }
}
BENCHMARK(BM_HemispherePaint);

}  // namespace
}  // namespace velmora
