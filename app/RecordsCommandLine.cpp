#include "app/RecordsCommandLine.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>

#include <cstdio>

namespace velmora {

RecordsCommandLine RecordsCommandLine::Read(int argc, char** argv) {
    RecordsCommandLine options;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        options.audit = options.audit || argument == QLatin1String("--audit");
        for (const auto& [name, value] :
             {std::pair{QStringLiteral("--database"), &options.database},
              std::pair{QStringLiteral("--backup"), &options.backupFile},
              std::pair{QStringLiteral("--since"), &options.since}}) {
            if (argument == name && i + 1 < argc) {
                *value = QString::fromLocal8Bit(argv[++i]);
            } else if (argument.startsWith(name + u'=')) {
                *value = argument.mid(name.size() + 1);
            } else if (argument != name) {
                continue;
            }
            if (value->isEmpty()) {
                options.error = QStringLiteral("%1 braucht einen Wert.").arg(name);
            }
            options.backup = options.backup || value == &options.backupFile;
        }
    }
    return options;
}

OpenedRecords OpenRecords(const RecordsCommandLine& options) {
    OpenedRecords opened;
    if (!options.error.isEmpty()) {
        opened.problem = options.error;
        return opened;
    }
    QString error;
    const auto address = DatabaseAddress::Resolve(options.database, &error);
    if (address && address->kind == DatabaseAddress::PostgreSQL) {
        // Opened off the window's thread: a server that does not answer must not hold it up.
        opened.server = address;
        return opened;
    }
    if (address) {
        opened.database = RecordsDatabase::Open(*address, &error);
    }
    if (!opened.database) {
        opened.problem =
            error + QStringLiteral(
                        "\nDie Untersuchung kann durchgeführt werden, wird aber nicht in "
                        "der Patientenakte gespeichert.");
        return opened;
    }
    opened.records = std::make_unique<PatientRecords>(*opened.database);
    return opened;
}

int RunAudit(const RecordsCommandLine& options) {
    QString message = options.error;
    QDateTime since;
    if (message.isEmpty() && !options.since.isEmpty()) {
        QDate day = QDate::fromString(options.since, Qt::ISODate);
        if (!day.isValid()) {
            day = QDate::fromString(options.since, QStringLiteral("dd.MM.yyyy"));
        }
        if (!day.isValid()) {
            message = QStringLiteral(
                          "--since braucht ein Datum (JJJJ-MM-TT oder TT.MM.JJJJ), nicht "
                          "„%1“.")
                          .arg(options.since);
        }
        since = day.startOfDay();
    }
    if (message.isEmpty()) {
        const auto address = DatabaseAddress::Resolve(options.database, &message);
        const auto database = address ? RecordsDatabase::Open(*address, &message) : nullptr;
        if (database) {
            PatientRecords records(*database);
            const std::vector<AuditLine> lines = records.AuditSince(since);
            if (records.LastError().isEmpty()) {
                for (const AuditLine& line : lines) {
                    std::fprintf(stdout, "%s\t%s\t%s\t%s\t%s\t%s\t%s\n",
                                 qPrintable(line.at.toLocalTime().toString(
                                     QStringLiteral("dd.MM.yyyy HH:mm:ss"))),
                                 qPrintable(line.user), qPrintable(line.workstation),
                                 qPrintable(line.action), qPrintable(line.patientId),
                                 qPrintable(line.visitId), qPrintable(line.detail));
                }
                return 0;
            }
            message = records.LastError();
        }
    }
    std::fprintf(stderr, "velmora: %s\n", qPrintable(message));
    return 1;
}

int RunBackup(const RecordsCommandLine& options) {
    QString message = options.error;
    if (message.isEmpty()) {
        const auto address = DatabaseAddress::Resolve(options.database, &message);
        if (address && address->kind == DatabaseAddress::PostgreSQL) {
            message = PgDumpAdvice(*address, options.backupFile);
        } else if (address) {
            const auto database = RecordsDatabase::Open(*address, &message);
            if (database && database->Backup(options.backupFile, &message)) {
                std::fprintf(stdout, "%s\n", qPrintable(message));
                return 0;
            }
        }
    }
    std::fprintf(stderr, "velmora: %s\n", qPrintable(message));
    return 1;
}

}  // namespace velmora
