#include "WindowThread.h"

#include <QCoreApplication>
#include <QThread>

namespace velmora {

bool OnWindowThread() {
    const QCoreApplication* const application = QCoreApplication::instance();
    return application == nullptr || application->thread() == QThread::currentThread();
}

void RunOnWindowThread(const std::function<void()>& work) {
    if (OnWindowThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
}

}  // namespace velmora
