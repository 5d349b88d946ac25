#pragma once

#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"

#include <QString>

#include <memory>
#include <optional>

namespace velmora {

// The program's command line for its patient records:
//   --database ADDRESS   where the records are (see DatabaseAddress.h), before VELMORA_DATABASE
//                        and velmora.conf
//   --backup FILE        writes a consistent copy of the SQLite records to FILE and ends; names
//                        pg_dump for records on a PostgreSQL server
//   --audit              prints the audit trail (for the practice's data protection officer) and
//                        ends; --since DATE (JJJJ-MM-TT or TT.MM.JJJJ) from that day on
struct RecordsCommandLine {
    QString database;
    QString backupFile;
    bool backup = false;
    bool audit = false;
    QString since;
    QString error;  // a German reason when the options cannot be read

    static RecordsCommandLine Read(int argc, char** argv);
};

// The records the window keeps its visits in, opened; an empty `records` with the German reason
// in `problem` when there are none (the window works on without them).
// A practice's server is not opened here (it may not answer): `server` names it, and the window
// opens it when its writer reaches it.
struct OpenedRecords {
    std::unique_ptr<RecordsDatabase> database;
    std::unique_ptr<PatientRecords> records;
    std::optional<DatabaseAddress> server;
    QString problem;
};
OpenedRecords OpenRecords(const RecordsCommandLine& options);

// --audit: the audit trail on the standard output, a line each (time, user, workstation, action,
// patient, visit, detail, separated by tabs), or on the standard error why there is none; the
// program's exit code.
int RunAudit(const RecordsCommandLine& options);

// --backup: says on the standard output where the copy went, or on the standard error why there is
// none; the program's exit code.
int RunBackup(const RecordsCommandLine& options);

}  // namespace velmora
