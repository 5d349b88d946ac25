#include "framework/German.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cerrno>
#include <cstring>

namespace velmora {

bool InstallGermanTranslation() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto* app = QCoreApplication::instance();
    if (!app) {
        return false;
    }
    // Owned by the application, so that it lives as long as the texts it translates.
    auto* translator = new QTranslator(app);
    if (!translator->load(QStringLiteral("qtbase_de"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QString ReasonOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("Der Ordner oder die Datei ist nicht vorhanden.");
        case EACCES:
        case EPERM:
            return QStringLiteral("Keine Berechtigung.");
        case ENOSPC:
        case EDQUOT:
            return QStringLiteral("Der Datenträger ist voll.");
        case EROFS:
            return QStringLiteral("Der Datenträger ist schreibgeschützt.");
        case EEXIST:
            return QStringLiteral("Die Datei ist bereits vorhanden.");
        case EBUSY:
        case ETXTBSY:
            return QStringLiteral("Die Datei wird gerade verwendet.");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

}  // namespace velmora
