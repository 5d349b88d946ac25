#include "ReportThread.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <memory>

namespace velmora {

TReportThread::TReportThread() : thread_([this] { Loop(); }) {}

TReportThread::~TReportThread() {
    Wait();
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    queued_.notify_all();
    thread_.join();
}

void TReportThread::Run(std::function<void()> work, QObject* context, std::function<void()> done) {
    const QPointer<QObject> receiver(context);
    {
        const std::lock_guard lock(mutex_);
        work_.push_back([work = std::move(work), receiver, done = std::move(done)] {
            work();
            if (receiver) {
                QMetaObject::invokeMethod(receiver.data(), done, Qt::QueuedConnection);
            }
        });
    }
    queued_.notify_all();
}

void TReportThread::Wait() {
    if (std::this_thread::get_id() == thread_.get_id()) {
        return;
    }
    // A marker behind everything queued so far; when it runs, it wakes the window's thread.
    const auto passed = std::make_shared<std::atomic<bool>>(false);
    QCoreApplication* const application = QCoreApplication::instance();
    {
        const std::lock_guard lock(mutex_);
        work_.push_back([passed, application] {
            passed->store(true);
            if (application != nullptr) {
                QMetaObject::invokeMethod(
                    application, [] {}, Qt::QueuedConnection);
            }
        });
    }
    queued_.notify_all();
    if (application == nullptr) {
        while (!passed->load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return;
    }
    QEventLoop loop;
    while (!passed->load()) {
        loop.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TReportThread::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stop_ || !work_.empty(); });
        if (work_.empty()) {
            return;  // stopped, and nothing left
        }
        std::function<void()> next = std::move(work_.front());
        work_.pop_front();
        lock.unlock();
        next();
        next = nullptr;  // what the work held goes with it, outside the lock
        lock.lock();
    }
}

}  // namespace velmora
