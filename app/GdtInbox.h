#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <map>

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;

namespace velmora {

// Where requests reach the running window: the local socket by which a second start of Velmora
// hands its request over, and the exchange folder, watched for the request file.
//
// The socket lives in a folder of the user's own (mode 0700): $XDG_RUNTIME_DIR/velmora, else
// /tmp/velmora-<uid>; only the same user's programs reach it. A request is handed to OnRequest
// from the event loop, and only while no modal box or dialog is open, so that a request never
// runs inside another of the window's handlers; until then it waits, in order.
class GdtInbox : public QObject {
public:
    explicit GdtInbox(QObject* parent = nullptr);
    ~GdtInbox() override;

    // Starts listening; false, with the German reason, when the socket cannot be made.
    bool Listen(QString* error);
    // Watches `folder` for `requestFileName` (the request the practice's software writes).
    void Watch(const QString& folder, const QString& requestFileName);
    // A request to hand on (an empty path: only the window to the front).
    void Queue(const QString& path);
    // Anything else of the window's that must not run inside a modal box, in the same order.
    void Post(std::function<void()> work);

    std::function<void(const QString& path)> OnRequest;

    static QString SocketPath();
    // A second start: hands `path` to the running window. True when a window took it (within
    // `timeoutMs`); false when none runs.
    static bool HandOver(const QString& path, int timeoutMs = 1000);

private:
    void Deliver();
    void FolderChanged();
    void AcceptHandOvers();
    void ReadHandOver(int fd, QSocketNotifier* readable);

    // The socket a second start hands its request to, and each hand-over's line so far.
    int listener_ = -1;
    QString socketPath_;
    std::map<int, QByteArray> handOvers_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* deliver_;
    QTimer* settle_;
    std::deque<std::function<void()>> queue_;
    QString watchedFile_;
    // The request file last queued from the folder, so that a request kept in place is not
    // taken again.
    QDateTime lastModified_;
    qint64 lastSize_ = -1;
};

}  // namespace velmora
