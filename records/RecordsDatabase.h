#pragma once

#include "records/DatabaseAddress.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>

class QSqlError;
class QSqlQuery;

namespace velmora {

// One open connection to the patient records, with its schema up to date.
//
// Lifecycle: Open() connects (a SQLite file is made on first use, in a folder only its user may
// enter), applies the connection's settings and brings the schema up to date; the object closes
// the connection when it goes. A connection belongs to the thread that opened it and is used on
// that thread only.
//
// SQLite: write-ahead log, foreign keys on, every commit durable (synchronous=FULL), a busy timeout
// before a second writer gives up with "database is locked". A file on a network file system is
// refused (SQLite's locking is not safe there; a practice shares a PostgreSQL server instead).
//
// The schema: the steps of SchemaSteps.h, each applied in one transaction and noted in the table
// schema_step; a database that a newer program has brought further is refused.
class RecordsDatabase {
public:
    ~RecordsDatabase();
    RecordsDatabase(const RecordsDatabase&) = delete;
    RecordsDatabase& operator=(const RecordsDatabase&) = delete;

    // nullptr with the German reason (what, where and why) when the records cannot be used.
    // `schemaUpTo` stops the schema at an earlier step (for checking the steps themselves).
    static std::unique_ptr<RecordsDatabase> Open(const DatabaseAddress& address, QString* error,
                                                 int schemaUpTo = -1);

    QSqlDatabase& Connection() { return db_; }
    const DatabaseAddress& Address() const { return address_; }
    bool IsPostgres() const { return address_.kind == DatabaseAddress::PostgreSQL; }
    int SchemaVersion() const { return schemaVersion_; }

    // Writes a consistent copy of a SQLite database to `file` (which must not exist) while others
    // may read and write; for PostgreSQL it says how pg_dump makes one. `message` says where the
    // copy went, or why there is none.
    bool Backup(const QString& file, QString* message);

    // Connects again after a server was lost (PostgreSQL); true when the connection stands.
    bool Reconnect();
    // Counts the connections made: statements prepared on an earlier one are gone.
    int ConnectionNumber() const { return connectionNumber_; }

    // The German reason for a failed statement or connection, from the driver's error.
    QString Reason(const QSqlError& error) const;
    // True when the error means the server cannot be reached (a PostgreSQL connection lost).
    bool IsConnectionLost(const QSqlError& error) const;

private:
    RecordsDatabase(DatabaseAddress address, QString connectionName);
    bool OpenSQLite(QString* error);
    bool OpenPostgres(QString* error);

    DatabaseAddress address_;
    QString connectionName_;
    QSqlDatabase db_;
    int schemaVersion_ = 0;
    int connectionNumber_ = 1;
};

// How pg_dump makes a backup of records on a PostgreSQL server at `address` into `file`.
QString PgDumpAdvice(const DatabaseAddress& address, const QString& file);

// The name of the network file system that holds `path` ("nfs", "cifs", ...), empty for a local
// one.
QString NetworkFileSystemOf(const QString& path);

}  // namespace velmora
