#include "gdt/GdtExchange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

// A file descriptor closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and says whether the close succeeded (NFS reports a failed write here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Puts `from` at `to` unless `to` exists; errno EEXIST when it does.
bool PlaceWithoutReplacing(const QByteArray& from, const QByteArray& to) {
    if (::link(from.constData(), to.constData()) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    // File systems without hard links (a Windows share): a rename that refuses to replace.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // Neither is supported: look, then rename.
    if (::access(to.constData(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.constData(), to.constData()) == 0;
}

}  // namespace

QString GdtFileName(const QString& receiverCode, const QString& senderCode) {
    return receiverCode + senderCode + QStringLiteral(".GDT");
}

QString GdtFileProblem(int error, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("Der Ordner „%1“ ist nicht vorhanden.").arg(shown);
        case EACCES:
        case EPERM:
        case EROFS:
            return QStringLiteral("Keine Berechtigung, in „%1“ zu schreiben.").arg(shown);
        case ENOSPC:
        case EDQUOT:
            return QStringLiteral("Der Datenträger mit „%1“ ist voll.").arg(shown);
        default:
            return QStringLiteral("„%1“: %2")
                .arg(shown, QString::fromLocal8Bit(std::strerror(error)));
    }
}

GdtRequestFile GdtReadRequestFile(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {std::nullopt, QStringLiteral("Die GDT-Anforderung „%1“ kann nicht geöffnet "
                                             "werden: %2")
                                  .arg(shown, file.errorString())};
    }
    const QByteArray bytes = file.read(kGdtMaxRequestBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        return {std::nullopt, QStringLiteral("Die GDT-Anforderung „%1“ kann nicht gelesen "
                                             "werden: %2")
                                  .arg(shown, file.errorString())};
    }
    auto read = GdtReadRequest(bytes);
    if (const GdtRefusal* refusal = std::get_if<GdtRefusal>(&read)) {
        return {std::nullopt, QStringLiteral("Die GDT-Anforderung „%1“ wird nicht übernommen.\n%2")
                                  .arg(shown, refusal->Message())};
    }
    return {std::move(std::get<GdtRequest>(read)), {}};
}

GdtWrittenFile GdtWriteResultFile(const QString& folder, const QString& fileName,
                                  const QByteArray& bytes) {
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isDir()) {
        return {{}, GdtFileProblem(ENOENT, folder)};
    }
    const QString dir = folderInfo.absoluteFilePath();
    QByteArray temporary = QFile::encodeName(dir + QStringLiteral("/.velmora-XXXXXX.tmp"));
    FileDescriptor fd(::mkostemps(temporary.data(), 4, O_CLOEXEC));
    if (fd.get() < 0) {
        return {{}, GdtFileProblem(errno, dir)};
    }
    // Readable by the practice's software, which may run as another user.
    ::fchmod(fd.get(), 0644);
    if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.Close()) {
        const int error = errno;
        ::unlink(temporary.constData());
        return {{}, GdtFileProblem(error, dir)};
    }
    const QString base = QFileInfo(fileName).completeBaseName();
    for (int n = 0; n <= 999; ++n) {
        const QString name =
            n == 0 ? fileName : base + QStringLiteral(".%1").arg(n, 3, 10, QLatin1Char('0'));
        const QString target = dir + QLatin1Char('/') + name;
        if (PlaceWithoutReplacing(temporary, QFile::encodeName(target))) {
            ::unlink(temporary.constData());  // after a link; gone already after a rename
            // The new name itself on the disk.
            if (FileDescriptor folderFd(
                    ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                folderFd.get() >= 0) {
                ::fsync(folderFd.get());
            }
            return {target, {}};
        }
        if (errno != EEXIST) {
            const int error = errno;
            ::unlink(temporary.constData());
            return {{}, GdtFileProblem(error, dir)};
        }
    }
    ::unlink(temporary.constData());
    return {{},
            QStringLiteral("Im Ordner „%1“ liegen schon 1000 nicht abgeholte Ergebnisse.")
                .arg(QDir::toNativeSeparators(dir))};
}

}  // namespace velmora
