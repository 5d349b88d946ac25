#include "app/GdtInbox.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// How long a changed exchange folder is left alone before the request is read: the practice's
// software may still be writing it.
constexpr int kSettleMs = 300;
constexpr int kRetryMs = 250;

// The socket's folder, made 0700 and checked to be the user's own and nobody else's.
QString SocketFolder() {
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = runtime.isEmpty() || !QDir::isAbsolutePath(runtime)
                               ? QStringLiteral("/tmp/velmora-%1").arg(::getuid())
                               : QDir(runtime).filePath(QStringLiteral("velmora"));
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid()) {
        return {};
    }
    if ((info.st_mode & 0077) != 0) {
        ::chmod(path.constData(), 0700);
    }
    return folder;
}

}  // namespace

GdtInbox::GdtInbox(QObject* parent)
    : QObject(parent), deliver_(new QTimer(this)), settle_(new QTimer(this)) {
    deliver_->setSingleShot(true);
    connect(deliver_, &QTimer::timeout, this, &GdtInbox::Deliver);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &GdtInbox::FolderChanged);
}

GdtInbox::~GdtInbox() = default;

QString GdtInbox::SocketPath() {
    const QString folder = SocketFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("fenster"));
}

bool GdtInbox::Listen(QString* error) {
    const QString path = SocketPath();
    if (path.isEmpty()) {
        *error = QStringLiteral(
            "Der Ordner für die Übergabe an das laufende Fenster gehört "
            "einem anderen Benutzer.");
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a program that ended without removing it: nobody answers there (a
    // second start asks before it listens).
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) {
        *error = server_->errorString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) {
                    return;
                }
                const QString path = QString::fromUtf8(socket->readLine()).chopped(1);
                // Answered at once: the second start ends, the window takes it when it can.
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
                Queue(path);
            });
        }
    });
    return true;
}

bool GdtInbox::HandOver(const QString& path, int timeoutMs) {
    const QString socketPath = SocketPath();
    if (socketPath.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    const QString absolute = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    socket.write(absolute.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    return socket.readLine() == "ok\n";
}

void GdtInbox::Watch(const QString& folder, const QString& requestFileName) {
    if (folder.isEmpty()) {
        return;
    }
    watchedFile_ = QDir(folder).filePath(requestFileName);
    watcher_ = new QFileSystemWatcher(this);
    watcher_->addPath(folder);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_->start(); });
}

void GdtInbox::FolderChanged() {
    const QFileInfo info(watchedFile_);
    if (!info.exists()) {
        lastSize_ = -1;
        return;
    }
    if (info.lastModified() == lastModified_ && info.size() == lastSize_) {
        return;  // the request taken already, kept in place
    }
    lastModified_ = info.lastModified();
    lastSize_ = info.size();
    Queue(watchedFile_);
}

void GdtInbox::Queue(const QString& path) {
    Post([this, path] {
        if (OnRequest) {
            OnRequest(path);
        }
    });
}

void GdtInbox::Post(std::function<void()> work) {
    queue_.push_back(std::move(work));
    if (!deliver_->isActive()) {
        deliver_->start(0);
    }
}

void GdtInbox::Deliver() {
    if (queue_.empty()) {
        return;
    }
    if (QApplication::activeModalWidget() != nullptr || QApplication::activePopupWidget()) {
        deliver_->start(kRetryMs);
        return;
    }
    const std::function<void()> work = std::move(queue_.front());
    queue_.pop_front();
    work();
    if (!queue_.empty()) {
        deliver_->start(0);
    }
}

}  // namespace velmora
