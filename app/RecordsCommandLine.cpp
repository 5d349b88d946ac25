#include "app/RecordsCommandLine.h"

#include <QStringList>

#include <cstdio>

namespace velmora {

RecordsCommandLine RecordsCommandLine::Read(int argc, char** argv) {
    RecordsCommandLine options;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        for (const auto& [name, value] :
             {std::pair{QStringLiteral("--database"), &options.database},
              std::pair{QStringLiteral("--backup"), &options.backupFile}}) {
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
