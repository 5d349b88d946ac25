#include "records/DatabaseAddress.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace velmora {
namespace {

QString Decoded(const QString& part) {
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// A value as libpq reads it in a connection string: quoted, with \ and ' escaped.
QString LibpqQuoted(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

std::optional<DatabaseAddress> ParsePostgres(const QString& text, int schemeEnd, QString* error) {
    DatabaseAddress address;
    address.kind = DatabaseAddress::PostgreSQL;
    QString rest = text.mid(schemeEnd);
    QString query;
    if (const int q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString authority = rest;
    if (const int slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        authority = rest.left(slash);
        address.databaseName = Decoded(rest.mid(slash + 1));
    }
    if (const int at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        if (userInfo.contains(QLatin1Char(':'))) {
            *error = QStringLiteral(
                "Die Adresse der Datenbank enthält ein Passwort.\nVelmora speichert keine "
                "Passwörter: Bitte tragen Sie es in ~/.pgpass ein (oder die Datei, die PGPASSFILE "
                "nennt).");
            return std::nullopt;
        }
        address.user = Decoded(userInfo);
    }
    // host[:port]; several hosts (a list for libpq) are handed on as they stand.
    if (!authority.contains(QLatin1Char(',')) && !authority.startsWith(QLatin1Char('['))) {
        if (const int colon = authority.lastIndexOf(QLatin1Char(':')); colon >= 0) {
            bool ok = false;
            address.port = authority.mid(colon + 1).toInt(&ok);
            if (!ok || address.port <= 0 || address.port > 65535) {
                *error = QStringLiteral("Die Adresse der Datenbank nennt keinen gültigen Port: %1")
                             .arg(authority.mid(colon + 1));
                return std::nullopt;
            }
            authority.truncate(colon);
        }
    }
    address.host = Decoded(authority);
    QStringList options;
    bool timeoutGiven = false;
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const QString key = Decoded(pair.left(equals));
        const QString value = equals < 0 ? QString() : Decoded(pair.mid(equals + 1));
        if (key == QLatin1String("password")) {
            *error = QStringLiteral(
                "Die Adresse der Datenbank enthält ein Passwort.\nVelmora speichert keine "
                "Passwörter: Bitte tragen Sie es in ~/.pgpass ein (oder die Datei, die PGPASSFILE "
                "nennt).");
            return std::nullopt;
        }
        // The driver separates its options by ';'.
        if (key.isEmpty() || key.contains(QLatin1Char(';')) || value.contains(QLatin1Char(';'))) {
            *error = QStringLiteral("Die Adresse der Datenbank enthält eine ungültige Angabe: %1")
                         .arg(pair);
            return std::nullopt;
        }
        if (key == QLatin1String("host")) {
            address.host = value;
        } else if (key == QLatin1String("port")) {
            address.port = value.toInt();
        } else if (key == QLatin1String("dbname")) {
            address.databaseName = value;
        } else if (key == QLatin1String("user")) {
            address.user = value;
        } else {
            timeoutGiven = timeoutGiven || key == QLatin1String("connect_timeout");
            options << key + QLatin1Char('=') + LibpqQuoted(value);
        }
    }
    // A server that does not answer must not hold the window for long.
    if (!timeoutGiven) {
        options << QStringLiteral("connect_timeout=5");
    }
    options << QStringLiteral("application_name='Velmora'");
    address.options = options.join(QLatin1Char(';'));
    address.shown = text;
    return address;
}

}  // namespace

std::optional<DatabaseAddress> DatabaseAddress::Parse(const QString& text, QString* error) {
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        if (text.startsWith(QLatin1String(scheme))) {
            return ParsePostgres(text, int(qstrlen(scheme)), error);
        }
    }
    DatabaseAddress address;
    if (text.startsWith(QLatin1String("sqlite://"))) {
        address.file = Decoded(text.mid(9));
    } else if (text.contains(QLatin1String("://"))) {
        *error = QStringLiteral(
                     "Die Adresse der Datenbank wird nicht verstanden: %1\nMöglich sind "
                     "postgresql://benutzer@server/datenbank und sqlite:///pfad/datei.sqlite.")
                     .arg(text);
        return std::nullopt;
    } else {
        address.file = text;
    }
    if (address.file.isEmpty() || !QDir::isAbsolutePath(address.file)) {
        if (address.file.isEmpty() || text.startsWith(QLatin1String("sqlite://"))) {
            *error = QStringLiteral(
                         "Die Adresse der Datenbank nennt keine Datei mit vollständigem Pfad: %1")
                         .arg(text);
            return std::nullopt;
        }
        address.file = QDir::current().absoluteFilePath(address.file);
    }
    address.file = QDir::cleanPath(address.file);
    address.shown = address.file;
    return address;
}

DatabaseAddress DatabaseAddress::DefaultFile() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        data = QDir::home().filePath(QStringLiteral(".local/share"));
    }
    DatabaseAddress address;
    address.file = QDir(data).filePath(QStringLiteral("velmora/velmora.sqlite"));
    address.shown = address.file;
    return address;
}

std::optional<DatabaseAddress> DatabaseAddress::Resolve(const QString& commandLine,
                                                        QString* error) {
    if (!commandLine.isEmpty()) {
        return Parse(commandLine, error);
    }
    if (const QString environment = qEnvironmentVariable("VELMORA_DATABASE");
        !environment.isEmpty()) {
        return Parse(environment, error);
    }
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::home().filePath(QStringLiteral(".config"));
    }
    const QSettings settings(QDir(config).filePath(QStringLiteral("velmora/velmora.conf")),
                             QSettings::IniFormat);
    // The INI format reads a value with commas (a list of hosts) as a list.
    if (const QString configured =
            settings.value(QStringLiteral("Datenbank/Adresse")).toStringList().join(u',');
        !configured.isEmpty()) {
        return Parse(configured, error);
    }
    return DefaultFile();
}

}  // namespace velmora
