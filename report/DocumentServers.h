#pragma once

// The program's document servers live in modules of its own library folder (the built-in writer
// in velmora-docx.so, the LibreOffice server in velmora-libreoffice.so), loaded when a report
// first asks for a server, so that neither libzip nor LibreOffice's UNO runtime is loaded by a
// program that makes no report, and the program runs without either installed.

#include <QString>

namespace velmora {

class TServerRegistry;

// Registers the program's document servers, in the order of preference from last to first:
// the built-in document writer first, so that any server registered after it (one that drives
// an installed office suite) is asked before it and it stands in when that one fails. A server
// whose module is missing, or cannot be loaded, fails with REGDB_E_CLASSNOTREG.
void RegisterDocumentServers(TServerRegistry& registry);

// Where the modules are looked for: the folder set below, else lib/<multiarch>/velmora beside
// the program's bin folder (and, for a program in the build tree, the build's module folder).
QString ServerModuleFolder();
// Sets the folder (an empty string: the default again). Modules already loaded stay loaded.
void SetServerModuleFolder(const QString& folder);

}  // namespace velmora
