#pragma once

// The built-in document writer: a document server in the program itself that takes the
// report's calls and saves the document as an Office Open XML file (.docx), for machines
// without an office suite.
//
// It has no window: Visible is kept and has no effect. Typed text is taken as a word processor
// takes it (a line feed, a carriage return or a CR LF pair ends the paragraph); pictures are
// read from bitmap files (or any picture file Qt reads) and embedded as PNG at their size at
// 96 dpi. Closing a document saves it in ReportFolder() under ReportFileName() and opens it
// with the desktop's default program through the framework's ShellExecute (tests replace that
// handler). A file of the same name is never replaced: the next free " (2)" name is taken, also
// when one appears while the report is written. A document that cannot be saved there: the
// operator is told why in a German message box and chooses another place in the save dialog
// "Bericht speichern unter"; when they cancel, it stays open and Close returns a failing code.
// Close with SaveChanges given as true saves and opens it as well, but leaves telling the operator
// where it is (its FullName) to the caller, also when no program opens it. A document added with
// Visible given as false is one nobody sees: closing it (unless the changes are dropped) saves it
// as PDF only, in ReportFolder() under the name its .docx would have, opens nothing and shows no
// box; its FullName is the PDF, and a failure is Close's result alone.
//
// Events: NewDocument and DocumentChange on Add, DocumentBeforeClose (whose Cancel argument
// keeps the document open) and DocumentChange on Close, Quit on Quit. After Quit every call
// fails with RPC_E_DISCONNECTED, as calls to a word processor that has ended do.

#include "report/ServerRegistry.h"

#include <QDateTime>
#include <QString>

namespace velmora {

// Registers the writer as a server of the word processor's class. Each new instance registers
// itself as running until it is told to quit. The registry must outlive the instances.
std::uint32_t RegisterBuiltInWriter(TServerRegistry& registry);
// The factory that registration uses.
TServerFactory BuiltInWriterFactory(TServerRegistry& registry);

// The user's documents folder (the home folder without one), and "Velmora" in it.
QString DocumentsFolder();
QString ReportFolder();

// "Velmora-Bericht <patient ID> <yyyy-MM-dd HH-mm-ss>.docx", without the ID when it is empty
// and with " (<copy>)" before the extension from the second copy on. Characters that cannot
// stand in a file name on the common file systems (/ \ : * ? " < > | and control characters)
// become "_"; the ID is trimmed and held to 64 characters.
QString ReportFileName(const QString& patientId, const QDateTime& when, int copy = 1);

}  // namespace velmora
