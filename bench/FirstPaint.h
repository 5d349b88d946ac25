#pragma once

// For the start-up and memory probes: ends the program after the first paint of its window (or
// a given time after it) and reports the peak resident memory of the process.
//
// Ended right after the first paint, a probe leaves at once, with the picture sent to the display
// server and acknowledged: what a timer of the whole process then measures is the start-up to the
// first painted window, without the tear-down that follows.

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
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
// paint and then closes it as usual; `--memory` prints the peak resident memory (VmHWM, kB) on
// exit, which needs a stay.
struct ProbeOptions {
    int stayMs = 0;
    bool memory = false;
    bool simulated = false;  // the test console's probe: simulated sound and mixer devices
    bool text = false;       // the bare window's probe: one line of text in the window
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
        } else if (std::strcmp(argv[i], "--text") == 0) {
            options.text = true;
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
            if (stayMs_ == 0) {
                QTimer::singleShot(0, [] {
                    QGuiApplication::sync();
                    std::_Exit(0);
                });
            } else {
                QTimer::singleShot(stayMs_, QCoreApplication::instance(), &QCoreApplication::quit);
            }
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
