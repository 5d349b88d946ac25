#pragma once

// The built-in writer's document as a PDF, for machines where no program opens a .docx: a PDF
// viewer or a browser shows and prints it.

#include "report/DocxPackage.h"

#include <QString>

namespace velmora {

// Writes `model` as a PDF at `path`: the same paragraphs in the same order, the same pictures at
// the same size (96 pixels per inch, scaled down to the text width where wider; Qt's PDF engine
// stores them as JPEG of high quality), bold and sizes
// as in the document, in the .docx's default face, on A4 pages with its margins. The file
// appears whole or not at all and never replaces one that is there. False with a German reason
// in *error otherwise (error->exists when a file of that name is there).
bool WritePdfDocument(const TDocModel& model, const QString& path, TSaveError* error);

}  // namespace velmora
