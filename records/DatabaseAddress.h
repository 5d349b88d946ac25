#pragma once

#include <QString>

#include <optional>

namespace velmora {

// Where the patient records are: a SQLite file on this machine (the default) or a practice's
// PostgreSQL server, named by a libpq connection URI.
//
// The address comes from the first of: the command line's --database, the environment variable
// VELMORA_DATABASE, `Adresse=` in the group [Datenbank] of ~/.config/velmora/velmora.conf, else
// $XDG_DATA_HOME/velmora/velmora.sqlite (~/.local/share/velmora/ when unset).
//
// Forms: "postgresql://user@host:port/dbname?param=value" (also "postgres://"; a socket folder as
// host goes percent-encoded or as ?host=/folder), "sqlite:///path/file.sqlite", or a plain path to
// a SQLite file. A password in the address is refused: libpq reads it from ~/.pgpass or
// PGPASSFILE, and the program never keeps one.
struct DatabaseAddress {
    enum Kind { SQLite, PostgreSQL };
    Kind kind = SQLite;
    // SQLite: the file.
    QString file;
    // PostgreSQL: the parts libpq is given; `options` are further "key=value" pairs separated by
    // ';', values quoted for libpq.
    QString host;
    int port = -1;
    QString databaseName;
    QString user;
    QString options;
    // How the address is shown to the operator (never with a password).
    QString shown;
    // How long a write waits for another writer's lock before it fails as "locked".
    int lockWaitMs = 5000;

    // Parses an address as above; nullopt with the German reason when it cannot be used.
    static std::optional<DatabaseAddress> Parse(const QString& text, QString* error);
    // The default SQLite file of this user.
    static DatabaseAddress DefaultFile();
    // The address as the program is to use it (see above); `commandLine` is --database's value
    // or empty.
    static std::optional<DatabaseAddress> Resolve(const QString& commandLine, QString* error);
};

}  // namespace velmora
