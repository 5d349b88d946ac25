#pragma once

#include "gdt/GdtRequest.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora {

// GDT files in the exchange folder a practice's software and Velmora agreed on.

// "<receiver><sender>.GDT": a request from the practice "PRAX" to the device "VELM" is
// VELMPRAX.GDT, the answer PRAXVELM.GDT.
QString GdtFileName(const QString& receiverCode, const QString& senderCode);

// A request file read: the request, or why not in German, naming the file and the line.
struct GdtRequestFile {
    std::optional<GdtRequest> request;
    QString error;
};
GdtRequestFile GdtReadRequestFile(const QString& path);

// A result file written: where, or why not in German (the folder missing, no permission, the disk
// full).
struct GdtWrittenFile {
    QString path;
    QString error;
    bool Ok() const { return error.isEmpty(); }
};

// Writes `bytes` into `folder` as `fileName` (GdtFileName) or, while a result the practice's
// software has not taken yet holds that name, as the same name with the extension .001, .002 …
// The file is written under a temporary name in the same folder, flushed to the disk and then
// linked into place without replacing anything, so that the practice's software never reads half
// a result and never loses one it has not imported.
GdtWrittenFile GdtWriteResultFile(const QString& folder, const QString& fileName,
                                  const QByteArray& bytes);

// The German reason for a failed file call (errno).
QString GdtFileProblem(int error, const QString& path);

}  // namespace velmora
