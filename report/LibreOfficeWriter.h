#pragma once

// LibreOffice Writer as a document server: the report is typed live into a Writer document,
// through UNO, on a LibreOffice instance that listens on a pipe of this user's.
//
// Connecting: when an instance listens on the pipe (one that Velmora started, now or earlier),
// the server attaches to it; otherwise it starts soffice with that pipe and the user's own
// profile, and waits until an instance accepts connections there (on the report's thread: the
// window goes on meanwhile): where the user's LibreOffice runs, the new process hands it the
// pipe, and the user's instance takes the report. A new document's window is brought to the
// front. When LibreOffice is not installed or does not start in time, the factory fails and the
// registry goes on to the next server (the built-in writer); an office started here that did not
// start in time is ended (that one process, not what it started), unless another program has
// connected to it meanwhile.
//
// The object model: Visible shows the document windows; Documents.Add loads a new Writer
// document; the selection is the document's view cursor; Font.Bold and Font.Size set the
// character weight and height at the cursor, and again before every insert; TypeText inserts at
// the cursor and leaves it after the text; TypeParagraph inserts a paragraph break; AddPicture
// inserts the picture as a character at the cursor, at its size (at 96 dpi where the file gives
// none), and fails when LibreOffice cannot read it; ActiveDocument.Close closes the document as
// Writer does when its user closes it (Writer asks about saving; Close does not wait for the
// answer); Quit asks the instance to end as its user would.
//
// Failures: a UNO exception becomes a failing result code; once the instance has gone away,
// every call fails with RPC_E_DISCONNECTED. Each call to the instance is watched: one that takes
// longer than callTimeout drops the connection, which releases the call. The instance is ended
// as well only when it was started here on a profile of the program's own and holds no document
// but the reports, as it told up to the moment it stopped answering (it reports every document
// made, loaded or unloaded in it); an instance on the user's profile, or one that may hold the
// user's work, is only let go.

#include "report/ServerRegistry.h"

#include <QString>
#include <QStringList>

#include <chrono>

namespace velmora {

struct TLibreOfficeOptions {
    QString program;        // soffice
    QString pipeName;       // the pipe the instance accepts UNO connections on
    QString profileUrl;     // the instance's user profile, a file URL; empty: the user's own
    QStringList arguments;  // further arguments when starting (--headless for tests)
    std::chrono::milliseconds startTimeout{30000};
    std::chrono::milliseconds callTimeout{10000};
};

// The soffice beside the UNO runtime this process uses, the user's own profile (the program's own
// where the user's cannot be used, LibreOfficeProfile.h) and the pipe of that profile.
TLibreOfficeOptions DefaultLibreOfficeOptions();

// Registers the server as a server of the word processor's class. Each new instance registers
// itself as running until it is told to quit or finds the instance gone. The registry must
// outlive the instances.
std::uint32_t RegisterLibreOfficeWriter(TServerRegistry& registry,
                                        TLibreOfficeOptions options = DefaultLibreOfficeOptions());
// The factory that registration uses.
TServerFactory LibreOfficeWriterFactory(TServerRegistry& registry, TLibreOfficeOptions options);

}  // namespace velmora
