#pragma once

#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"

#include <QString>

#include <memory>

namespace velmora {

// The program's command line for its patient records:
//   --database ADDRESS   where the records are (see DatabaseAddress.h), before VELMORA_DATABASE
//                        and velmora.conf
//   --backup FILE        writes a consistent copy of the SQLite records to FILE and ends; names
//                        pg_dump for records on a PostgreSQL server
struct RecordsCommandLine {
    QString database;
    QString backupFile;
    bool backup = false;
    QString error;  // a German reason when the options cannot be read

    static RecordsCommandLine Read(int argc, char** argv);
};

// The records the window keeps its visits in, opened; an empty `records` with the German reason
// in `problem` when there are none (the window works on without them).
struct OpenedRecords {
    std::unique_ptr<RecordsDatabase> database;
    std::unique_ptr<PatientRecords> records;
    QString problem;
};
OpenedRecords OpenRecords(const RecordsCommandLine& options);

// --backup: says on the standard output where the copy went, or on the standard error why there is
// none; the program's exit code.
int RunBackup(const RecordsCommandLine& options);

}  // namespace velmora
