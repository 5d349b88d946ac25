#include "controls/Credits.h"
#include "controls/Fleches.h"

#include "bench/GuiApplication.h"

#include <benchmark/benchmark.h>

namespace velmora {
namespace {

using bench::EnsureGuiApplication;

// One timer tick of the main window's credits (109 x 81, eleven lines): move, draw every line
// in view into the off-screen bitmap, copy it to the control.
void BM_CreditsTick(benchmark::State& state) {
    EnsureGuiApplication();
    TScrollingCredits s;
    s.SetBounds(8, 176, 109, 81);
    TFont font;
    font.SetName(QStringLiteral("Tahoma"));
    font.SetColor(clBlack);
    s.SetCreditsFont(font);
    s.SetBackgroundColor(clLime);
    s.SetBorderColor(clLime);
    QStringList lines = s.Credits();
    lines.resize(11);
    s.SetCredits(lines);
    s.SetAnimate(true);
    for (auto _ : state) {
        s.DispatchTimer();
        benchmark::DoNotOptimize(s.Buffer().Image().constBits());
    }
}
BENCHMARK(BM_CreditsTick);

// Painting one divider of the functions column.
void BM_FlechesArrowLinePaint(benchmark::State& state) {
    EnsureGuiApplication();
    TFleches f;
    f.SetBounds(12, 52, 100, 17);
    f.StyleLigne().SetStyle(psInsideFrame);
    f.SetPositionLigne(Horizontale);
    f.SetPointe1Forme(Ronde);
    f.SetPointe2Forme(Ronde);
    f.SetPointe1Longueur(1);
    f.SetPointe2Longueur(1);
    f.SetPointe1Largeur(1);
    f.SetPointe2Largeur(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.RenderImage().constBits());
    }
}
BENCHMARK(BM_FlechesArrowLinePaint);

}  // namespace
}  // namespace velmora
