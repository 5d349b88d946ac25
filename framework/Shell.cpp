#include "Shell.h"
#include "framework/German.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace velmora {
namespace {

bool OpenWithDesktop(const ShellRequest& request) {
    if (request.operation.compare(QStringLiteral("open"), Qt::CaseInsensitive) != 0) {
        return false;
    }
    const QUrl url(request.file, QUrl::TolerantMode);
    return url.isValid() && QDesktopServices::openUrl(url);
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

QString PrivateDirectory(QString* error) {
    QString ignored;
    QString& why = error != nullptr ? *error : ignored;
    QString base = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (base.isEmpty() || !QDir(base).exists()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (base.isEmpty() || !QDir().mkpath(base)) {
            why = QStringLiteral("kein Cache-Verzeichnis");
            return {};
        }
    }
    const QString path = QDir(base).filePath(QStringLiteral("velmora"));
    if (!EnsurePrivateDirectory(path, &why)) {
        return {};
    }
    return path;
}

}  // namespace velmora
