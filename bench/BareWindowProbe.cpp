// The yardstick of the test console's start-up and memory: a bare Qt 6 window of the same size
// and kind (fixed size, a title), shown and ended after its first paint (see FirstPaint.h).
// With --text it shows one line of text, which is what loading the fonts costs.

#include "FirstPaint.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char* argv[]) {
    const auto options = velmora::bench::ParseProbeOptions(argc, argv);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("  Velmora - Relativtest V 1.00"));
    window.setFixedSize(873, 569);
    if (options.text) {
        auto* label = new QLabel(QStringLiteral("Velmora - Relativtest"), &window);
        label->move(16, 12);
    }
    velmora::bench::QuitAfterFirstPaint quit(&window, options.stayMs);
    window.show();
    QApplication::exec();
    velmora::bench::ReportMemory(options);
    return 0;
}
