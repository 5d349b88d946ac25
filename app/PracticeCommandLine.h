#pragma once

#include "app/RecordsCommandLine.h"

#include <QString>

namespace velmora {

// The program's command line for the practice's software:
//   --gdt [FILE]              starts with the GDT request FILE (else the one waiting in the
//                             exchange folder); a window already running takes it instead
//   --export FILE --patient ID
//                             writes the visits of the patient with the Patienten-ID as CSV
//                             (FILE ends in .csv) or as a FHIR R4 Bundle (.json) and ends
struct PracticeCommandLine {
    bool gdt = false;
    QString gdtFile;
    QString exportFile;
    QString exportPatient;
    bool exportWanted = false;
    QString error;  // a German reason when the options cannot be read

    static PracticeCommandLine Read(int argc, char** argv);
};

// --export: says where the file went on the standard output, or why not on the standard error;
// the program's exit code.
int RunExport(const PracticeCommandLine& options, const RecordsCommandLine& records);

}  // namespace velmora
