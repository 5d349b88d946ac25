#include "app/GdtInbox.h"

#include "framework/German.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

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

// The socket's address; false when the path does not fit.
bool AddressOf(const QString& path, sockaddr_un* address) {
    const QByteArray name = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (std::size_t(name.size()) >= sizeof(address->sun_path)) {
        return false;
    }
    std::memcpy(address->sun_path, name.constData(), std::size_t(name.size()));
    return true;
}

// A file descriptor closed with its owner.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

GdtInbox::GdtInbox(QObject* parent)
    : QObject(parent), deliver_(new QTimer(this)), settle_(new QTimer(this)) {
    deliver_->setSingleShot(true);
    connect(deliver_, &QTimer::timeout, this, &GdtInbox::Deliver);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &GdtInbox::FolderChanged);
}

GdtInbox::~GdtInbox() {
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(QFile::encodeName(socketPath_).constData());
    }
    for (const auto& [fd, line] : handOvers_) {
        ::close(fd);
    }
}

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
    sockaddr_un address;
    if (!AddressOf(path, &address)) {
        *error = QStringLiteral("Der Pfad für die Übergabe ist zu lang: %1").arg(path);
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // A socket left by a program that ended without removing it: nobody answers there (a
    // second start asks before it listens).
    ::unlink(address.sun_path);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(address.sun_path, 0600) != 0 || ::listen(fd, 8) != 0) {
        *error = ReasonOf(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    listener_ = fd;
    socketPath_ = path;
    auto* incoming = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(incoming, &QSocketNotifier::activated, this, [this] { AcceptHandOvers(); });
    return true;
}

void GdtInbox::AcceptHandOvers() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        handOvers_[fd];
        auto* readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(readable, &QSocketNotifier::activated, this,
                [this, fd, readable] { ReadHandOver(fd, readable); });
    }
}

void GdtInbox::ReadHandOver(int fd, QSocketNotifier* readable) {
    QByteArray& line = handOvers_[fd];
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        line.append(buffer, got);
    }
    const qsizetype end = line.indexOf('\n');
    const bool waiting = end < 0 && got < 0 && (errno == EAGAIN || errno == EINTR);
    if (waiting) {
        return;
    }
    const QString path = end < 0 ? QString() : QString::fromUtf8(line.left(end));
    readable->setEnabled(false);
    readable->deleteLater();
    if (end >= 0) {
        // Answered at once: the second start ends, the window takes it when it can.
        ::send(fd, "ok\n", 3, MSG_NOSIGNAL);
    }
    ::close(fd);
    handOvers_.erase(fd);
    if (end >= 0) {
        Queue(path);
    }
}

bool GdtInbox::HandOver(const QString& path, int timeoutMs) {
    const QString socketPath = SocketPath();
    sockaddr_un address;
    if (socketPath.isEmpty() || !AddressOf(socketPath, &address)) {
        return false;
    }
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0 ||
        ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    const QString absolute = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    const QByteArray request = absolute.toUtf8() + '\n';
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto wait = [&](short events) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd one{socket.Get(), events, 0};
        return left.count() > 0 && ::poll(&one, 1, int(left.count())) == 1;
    };
    for (qsizetype sent = 0; sent < request.size();) {
        if (!wait(POLLOUT)) {
            return false;
        }
        const ssize_t n = ::send(socket.Get(), request.constData() + sent,
                                 std::size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        sent += n < 0 ? 0 : n;
    }
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (!wait(POLLIN)) {
            return false;
        }
        char buffer[16];
        const ssize_t n = ::read(socket.Get(), buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            return false;
        }
        reply.append(buffer, n < 0 ? 0 : n);
    }
    return reply == "ok\n";
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
