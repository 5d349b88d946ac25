#pragma once

// Waits for the end of the report that "Bericht erstellen" started on the test console: the run
// goes on on the report's thread while the window's event loop runs.

#include "app/Unit1.h"

#include <QApplication>

#include <chrono>

namespace velmora::test {

// Runs the window's event loop until the report has ended (at most `limit`); whether it has.
inline bool ReportEnded(const TForm1& form,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(60000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (form.ReportRunning() && std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return !form.ReportRunning();
}

}  // namespace velmora::test
