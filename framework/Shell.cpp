#include "Shell.h"
#include "framework/German.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velmora {
namespace {

// Whether the desktop names a program for the type of a file; where it cannot tell (no
// xdg-mime), the desktop is left to try.
bool DesktopHasProgramFor(const QString& file) {
    const QString type = QMimeDatabase().mimeTypeForFile(file).name();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForStarted(1000)) {
        return true;
    }
    if (!query.waitForFinished(2000)) {
        query.kill();
        query.waitForFinished(1000);
        return true;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

bool OpenWithDesktop(const ShellRequest& request) {
    if (request.operation.compare(QStringLiteral("open"), Qt::CaseInsensitive) != 0) {
        return false;
    }
    const QUrl url(request.file, QUrl::TolerantMode);
    if (!url.isValid() || (url.isLocalFile() && !DesktopHasProgramFor(url.toLocalFile()))) {
        return false;
    }
    return QDesktopServices::openUrl(url);
}

bool MoveFile(const QByteArray& from, const QByteArray& to, bool replace) {
    if (replace) {
        return ::rename(from.constData(), to.constData()) == 0;
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
    // A file system that cannot move without replacing: a second name for the file, which never
    // replaces one either, then the first name goes.
    if (::link(from.constData(), to.constData()) != 0) {
        return false;
    }
    ::unlink(from.constData());
    return true;
}

ShellHandler& CurrentHandler() {
    static ShellHandler handler = OpenWithDesktop;
    return handler;
}

// Creates `path` with mode 0700 or checks that the existing entry is safe to keep files in.
bool EnsurePrivateDirectory(const QString& path, QString* error) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error = ReasonOf(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        *error = ReasonOf(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("kein Verzeichnis");
        return false;
    }
    if (info.st_uid != ::getuid()) {
        *error = QStringLiteral("gehört einem anderen Benutzer");
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        *error = QStringLiteral("für andere Benutzer zugänglich");
        return false;
    }
    return true;
}

}  // namespace

bool ShellExecute(const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory, int showCommand) {
    return CurrentHandler()(ShellRequest{operation, file, parameters, directory, showCommand});
}

ShellHandler SetShellHandler(ShellHandler handler) {
    ShellHandler previous = CurrentHandler();
    CurrentHandler() = handler ? std::move(handler) : ShellHandler(OpenWithDesktop);
    return previous;
}

bool DeleteFile(const QString& path) {
    return !path.isEmpty() && QFile::remove(path);
}

namespace {

// Where the private directory is, made or not; empty without a place for it.
QString PrivateDirectoryPath(bool makeBase) {
    QString base = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (base.isEmpty() || !QDir(base).exists()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (base.isEmpty() || (makeBase && !QDir().mkpath(base))) {
            return {};
        }
    }
    return QDir(base).filePath(QStringLiteral("velmora"));
}

}  // namespace

QString PrivateDirectory(QString* error) {
    QString ignored;
    QString& why = error != nullptr ? *error : ignored;
    const QString path = PrivateDirectoryPath(true);
    if (path.isEmpty()) {
        why = QStringLiteral("kein Cache-Verzeichnis");
        return {};
    }
    if (!EnsurePrivateDirectory(path, &why)) {
        return {};
    }
    return path;
}

QString ExistingPrivateDirectory() {
    const QString path = PrivateDirectoryPath(false);
    struct stat info {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return PrivateDirectory();
}

bool MoveIntoPlace(const QString& from, const QString& to, bool replace, int* error) {
    if (MoveFile(QFile::encodeName(from), QFile::encodeName(to), replace)) {
        return true;
    }
    if (error != nullptr) {
        *error = errno;
    }
    return false;
}

}  // namespace velmora
