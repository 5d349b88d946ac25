#pragma once

// For the start-up and memory probes: ends the program after the first paint of its window (or
// a given time after it) and reports the peak resident memory of the process.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace velmora::bench {

// The options of a probe: `--stay MS` keeps the window running that long after its first
// paint; `--memory` prints the peak resident memory (VmHWM, kB) on exit.
struct ProbeOptions {
    int stayMs = 0;
    bool memory = false;
    bool simulated = false;  // the test console's probe: simulated sound and mixer devices
};

inline ProbeOptions ParseProbeOptions(int argc, char* argv[]) {
    ProbeOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stay") == 0 && i + 1 < argc) {
            options.stayMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--memory") == 0) {
            options.memory = true;
        } else if (std::strcmp(argv[i], "--simulated") == 0) {
            options.simulated = true;
        }
    }
    return options;
}

// Quits the application `stayMs` after the first paint event of `window`.
class QuitAfterFirstPaint : public QObject {
public:
    QuitAfterFirstPaint(QWidget* window, int stayMs) : stayMs_(stayMs) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted_) {
            painted_ = true;
            // Queued behind the paint, so the picture reaches the screen before the end.
            QTimer::singleShot(stayMs_, QCoreApplication::instance(), &QCoreApplication::quit);
        }
        return false;
    }

private:
    int stayMs_;
    bool painted_ = false;
};

// The process's peak resident memory in kB (VmHWM), 0 when unknown.
inline long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

inline void ReportMemory(const ProbeOptions& options) {
    if (options.memory) {
        std::printf("VmHWM %ld kB\n", PeakResidentKb());
    }
}

}  // namespace velmora::bench
