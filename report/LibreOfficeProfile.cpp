#include "LibreOfficeProfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace velmora {

QString UserLibreOfficeProfile() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::home().filePath(QStringLiteral(".config"));
    }
    return QDir::cleanPath(QDir(config).filePath(QStringLiteral("libreoffice/4")));
}

QString PrivateLibreOfficeProfile() {
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) {
        data = QDir::home().filePath(QStringLiteral(".local/share"));
    }
    return QDir::cleanPath(QDir(data).filePath(QStringLiteral("velmora/libreoffice")));
}

bool ProfileUsable(const QString& folder) {
    // The folder, or the nearest folder above it that exists (where it would be made).
    QFileInfo place(QDir::cleanPath(folder));
    while (!place.exists() && !place.isRoot()) {
        place = QFileInfo(place.absolutePath());
    }
    return place.isDir() && place.isWritable() && place.ownerId() == ::getuid();
}

QString LibreOfficePipeName(const QString& profile) {
    const QByteArray digest =
        QCryptographicHash::hash(QDir::cleanPath(profile).toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("velmora-writer-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(digest.toHex().left(8)));
}

}  // namespace velmora
