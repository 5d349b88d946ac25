#pragma once

#include <QApplication>

namespace velmora::bench {

// A QApplication for the benchmarks that draw text or make widgets, made once for the run.
inline void EnsureGuiApplication() {
    static int argc = 1;
    static char arg0[] = "controls_bench";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app =
        QApplication::instance() == nullptr ? new QApplication(argc, argv) : nullptr;
    (void)app;
}

}  // namespace velmora::bench
