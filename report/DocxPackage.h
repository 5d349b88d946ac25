#pragma once

// A text document of paragraphs, runs and inline pictures, and its Office Open XML package
// (.docx): what the built-in writer keeps while a report is typed and what it saves.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace velmora {

// Character formatting: bold or not, and the size in points.
struct TCharFormat {
    bool bold = false;
    float size = 12;
    friend bool operator==(const TCharFormat&, const TCharFormat&) = default;
};

// Text in one format, or one picture (picture >= 0, an index into the document's pictures).
struct TDocRun {
    QString text;
    TCharFormat format;
    int picture = -1;
};

// A paragraph: its runs and the format of its paragraph mark, which gives an empty paragraph
// its height.
struct TDocParagraph {
    std::vector<TDocRun> runs;
    TCharFormat mark;
    QString PlainText() const;
};

// A PNG picture with its size in pixels; it is shown at 96 pixels per inch.
struct TDocPicture {
    QByteArray png;
    int width = 0;
    int height = 0;
};

struct TDocModel {
    std::vector<TDocParagraph> paragraphs{1};  // never empty: a new document has one
    std::vector<TDocPicture> pictures;
    QString title;
    QDateTime created;
};

// The main part (word/document.xml). A picture wider or taller than the page's text area is
// scaled down to fit it, keeping its proportions.
QByteArray DocumentXml(const TDocModel& model);

// Why a package could not be saved: a German reason and the system's error number (0 if none).
struct TSaveError {
    QString reason;
    int systemError = 0;
    bool exists = false;  // the file was there already
};

// Saves the package at `path`, which must not exist yet (with `replace`, which may: the user
// agreed). On failure nothing is left at `path`, and a file that is there is kept.
bool WriteDocxPackage(const TDocModel& model, const QString& path, TSaveError* error,
                      bool replace = false);

}  // namespace velmora
