#pragma once

// The thread that reports run on, and with them every call to the word processor: connecting,
// typing, closing and, at the end, letting it go. The window's thread only starts a run and
// hears of its end, so that it never waits for a word processor (a LibreOffice that starts slowly
// or hangs until its call limit) or for the desktop (slow to say which program opens a file): the
// window repaints and its sound controls work meanwhile.
//
// Lifecycle: the thread starts with the object. Run queues work, which runs in the order queued,
// one piece at a time; the destructor lets what is queued run, then ends the thread.
//
// Threads: Run and Wait are called from the window's thread. Boxes and dialogs that the work
// shows are shown by the window's thread, which waits for the work only in Wait, with its event
// loop running (framework/WindowThread.h).

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora {

class TReportThread {
public:
    TReportThread();
    ~TReportThread();
    TReportThread(const TReportThread&) = delete;
    TReportThread& operator=(const TReportThread&) = delete;

    // Runs `work` on the thread, then `done` on the window's thread through its event loop, unless
    // `context` has gone by then.
    void Run(std::function<void()> work, QObject* context, std::function<void()> done);
    // Waits until everything queued so far has run, keeping the window's event loop running
    // (without the operator's input, which waits) so that the work's boxes can be shown.
    void Wait();

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::function<void()>> work_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once the rest is there
};

}  // namespace velmora
