#include "records/RecordsDatabase.h"

#include "records/SchemaSteps.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <utility>

#include <sys/stat.h>
#include <sys/statfs.h>

namespace velmora {
namespace {

// SQLite's result codes that an operator can do something about.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteIoError = 10;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCannotOpen = 14;
constexpr int kSqliteNotADatabase = 26;

QString NextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("velmora-records-%1").arg(++counter);
}

}  // namespace

QString NetworkFileSystemOf(const QString& path) {
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    // The magic numbers of linux/magic.h and of the file systems that keep their own.
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x6969:
            return QStringLiteral("NFS");
        case 0x517B:
            return QStringLiteral("SMB");
        case 0xFF534D42:
            return QStringLiteral("CIFS");
        case 0xFE534D42:
            return QStringLiteral("SMB2");
        case 0x01021997:
            return QStringLiteral("9P");
        case 0x5346414F:
            return QStringLiteral("AFS");
        case 0x73757245:
            return QStringLiteral("Coda");
        case 0x564C:
            return QStringLiteral("NCP");
        case 0x00C36400:
            return QStringLiteral("Ceph");
        case 0x0BD00BD0:
            return QStringLiteral("Lustre");
        case 0x01161970:
            return QStringLiteral("GFS2");
        case 0x7461636F:
            return QStringLiteral("OCFS2");
        default:
            return {};
    }
}

RecordsDatabase::RecordsDatabase(DatabaseAddress address, QString connectionName)
    : address_(std::move(address)), connectionName_(std::move(connectionName)) {}

RecordsDatabase::~RecordsDatabase() {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

std::unique_ptr<RecordsDatabase> RecordsDatabase::Open(const DatabaseAddress& address,
                                                       QString* error, int schemaUpTo) {
    std::unique_ptr<RecordsDatabase> records(new RecordsDatabase(address, NextConnectionName()));
    const bool opened =
        records->IsPostgres() ? records->OpenPostgres(error) : records->OpenSQLite(error);
    if (!opened) {
        return nullptr;
    }
    QString why;
    if (!UpgradeSchema(records->db_, records->IsPostgres(), schemaUpTo, &records->schemaVersion_,
                       &why)) {
        *error = QStringLiteral("Die Patientenakte %1 kann nicht verwendet werden.\n%2")
                     .arg(address.shown, why);
        return nullptr;
    }
    return records;
}

bool RecordsDatabase::OpenSQLite(QString* error) {
    const auto refuse = [&](const QString& why) {
        *error = QStringLiteral("Die Patientenakte %1 kann nicht geöffnet werden.\n%2")
                     .arg(address_.file, why);
        return false;
    };
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        return refuse(
            QStringLiteral("Der SQLite-Treiber von Qt fehlt (Debian-Paket "
                           "libqt6sql6-sqlite)."));
    }
    const QFileInfo file(address_.file);
    QDir folder = file.dir();
    if (!folder.exists()) {
        // A folder made for the records is the user's alone.
        if (!folder.mkpath(QStringLiteral("."))) {
            return refuse(
                QStringLiteral("Der Ordner %1 kann nicht angelegt werden.").arg(folder.path()));
        }
        ::chmod(QFile::encodeName(folder.path()).constData(), 0700);
    }
    if (const QString network = NetworkFileSystemOf(folder.path()); !network.isEmpty()) {
        return refuse(
            QStringLiteral("Die Datei liegt auf einem Netzlaufwerk (%1). Dort ist SQLite nicht "
                           "sicher: Gleichzeitige Zugriffe können die Patientenakte beschädigen.\n"
                           "Für eine gemeinsame Patientenakte mehrerer Arbeitsplätze verwenden Sie "
                           "bitte einen PostgreSQL-Server.")
                .arg(network));
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(address_.file);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(address_.lockWaitMs));
    if (!db_.open()) {
        return refuse(Reason(db_.lastError()));
    }
    QSqlQuery query(db_);
    // The first statement reads the file: one that is no database fails here.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next()) {
        return refuse(Reason(query.lastError()));
    }
    if (query.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
        return refuse(QStringLiteral("Das Schreibprotokoll (WAL) lässt sich nicht einschalten."));
    }
    // Pages read through a mapping of the file and a larger cache: a search reads a few
    // thousand pages of an index, which a read call each made slow.
    for (const char* pragma : {"PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON",
                               "PRAGMA mmap_size=268435456", "PRAGMA cache_size=-16384"}) {
        if (!query.exec(QString::fromLatin1(pragma))) {
            return refuse(Reason(query.lastError()));
        }
    }
    return true;
}

bool RecordsDatabase::OpenPostgres(QString* error) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        *error = QStringLiteral(
                     "Die Patientenakte %1 kann nicht geöffnet werden.\nDer "
                     "PostgreSQL-Treiber von Qt fehlt (Debian-Paket libqt6sql6-psql).")
                     .arg(address_.shown);
        return false;
    }
    if (!db_.isValid()) {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName_);
    }
    db_.setHostName(address_.host);
    db_.setPort(address_.port);
    db_.setDatabaseName(address_.databaseName);
    db_.setUserName(address_.user);
    db_.setConnectOptions(address_.options);
    if (!db_.open()) {
        *error = QStringLiteral("Die Patientenakte auf %1 ist nicht erreichbar.\n%2")
                     .arg(address_.shown, Reason(db_.lastError()));
        return false;
    }
    // Every commit waits for the server's disk, whatever the server's default; a write that
    // another workstation's lock holds up fails after a while rather than holding the window.
    QSqlQuery query(db_);
    query.exec(QStringLiteral("SET client_min_messages = warning"));
    // The driver prepares every statement: a plan made for no values in particular reads a
    // search's common prefix like a rare one, so each is planned for its values.
    query.exec(QStringLiteral("SET plan_cache_mode = force_custom_plan"));
    query.exec(QStringLiteral("SET synchronous_commit = on"));
    query.exec(QStringLiteral("SET lock_timeout = %1").arg(address_.lockWaitMs));
    return true;
}

bool RecordsDatabase::Reconnect() {
    if (!IsPostgres()) {
        return db_.isOpen();
    }
    db_.close();
    ++connectionNumber_;
    QString error;
    return OpenPostgres(&error);
}

QString RecordsDatabase::Reason(const QSqlError& error) const {
    const QString text = error.driverText().isEmpty()     ? error.databaseText()
                         : error.databaseText().isEmpty() ? error.driverText()
                                                          : error.databaseText();
    if (IsPostgres()) {
        const QString state = error.nativeErrorCode();
        if (state == QLatin1String("53100")) {
            return QStringLiteral("Der Datenträger des Datenbankservers ist voll.");
        }
        if (state == QLatin1String("55P03") || state == QLatin1String("40P01")) {
            return QStringLiteral("Die Daten sind gerade von einem anderen Arbeitsplatz gesperrt.");
        }
        if (IsConnectionLost(error)) {
            return QStringLiteral("Keine Verbindung zum Datenbankserver (%1).").arg(text.trimmed());
        }
        return text.trimmed();
    }
    bool numeric = false;
    // The extended code's low byte is the primary code.
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xFF;
    if (!numeric) {
        return text;
    }
    switch (code) {
        case kSqliteBusy:
        case kSqliteLocked:
            return QStringLiteral(
                "Die Datenbank ist gesperrt: Ein anderes Programm schreibt gerade hinein.");
        case kSqliteReadOnly:
            return QStringLiteral("Die Datenbank ist schreibgeschützt.");
        case kSqliteFull:
            return QStringLiteral("Der Datenträger ist voll.");
        case kSqliteIoError:
            return QStringLiteral("Lese- oder Schreibfehler auf dem Datenträger.");
        case kSqliteCannotOpen:
            return QStringLiteral(
                "Die Datei lässt sich nicht öffnen (fehlt der Ordner, oder "
                "fehlen die Rechte?).");
        case kSqliteCorrupt:
            return QStringLiteral("Die Datenbank ist beschädigt.");
        case kSqliteNotADatabase:
            return QStringLiteral(
                "Die Datei ist keine Velmora-Patientenakte (keine "
                "SQLite-Datenbank).");
        default:
            return text;
    }
}

bool RecordsDatabase::IsConnectionLost(const QSqlError& error) const {
    if (!IsPostgres()) {
        return false;
    }
    // Class 08 (connection exception), 57P01-57P03 (the server shuts down or cannot connect now);
    // the driver gives no state when libpq finds the connection gone.
    const QString state = error.nativeErrorCode();
    return error.type() == QSqlError::ConnectionError || state.startsWith(QLatin1String("08")) ||
           state.startsWith(QLatin1String("57P")) || !db_.isOpen() ||
           (state.isEmpty() && error.type() != QSqlError::NoError);
}

bool RecordsDatabase::Backup(const QString& file, QString* message) {
    if (IsPostgres()) {
        *message = PgDumpAdvice(address_, file);
        return false;
    }
    const QString target = QFileInfo(file).absoluteFilePath();
    if (QFileInfo::exists(target)) {
        *message = QStringLiteral(
                       "Die Sicherung wurde nicht geschrieben: %1 ist bereits "
                       "vorhanden.")
                       .arg(target);
        return false;
    }
    // The copy holds patients' data: it is the user's alone from its first byte.
    {
        QFile empty(target);
        if (!empty.open(QIODevice::NewOnly | QIODevice::WriteOnly) ||
            !empty.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            *message = QStringLiteral("Die Sicherung nach %1 ist fehlgeschlagen.\n%2")
                           .arg(target, empty.errorString());
            return false;
        }
    }
    QSqlQuery query(db_);
    if (!query.prepare(QStringLiteral("VACUUM INTO ?"))) {
        QFile::remove(target);
        *message = Reason(query.lastError());
        return false;
    }
    query.addBindValue(target);
    if (!query.exec()) {
        *message = QStringLiteral("Die Sicherung nach %1 ist fehlgeschlagen.\n%2")
                       .arg(target, Reason(query.lastError()));
        QFile::remove(target);
        return false;
    }
    *message =
        QStringLiteral("Die Patientenakte %1 wurde nach %2 gesichert.").arg(address_.file, target);
    return true;
}

QString PgDumpAdvice(const DatabaseAddress& address, const QString& file) {
    return QStringLiteral(
               "Die Patientenakte liegt auf einem PostgreSQL-Server. Eine Sicherung "
               "macht dort pg_dump, zum Beispiel:\n  pg_dump --format=custom "
               "--file=%1 '%2'\nZurückspielen mit pg_restore.")
        .arg(file, address.shown);
}

}  // namespace velmora
