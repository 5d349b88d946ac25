#pragma once

// Reads a .docx back the way a word processor would see it: paragraphs of runs with their
// bold and size, pictures with their extent and the part that holds them.

#include "report/ZipArchive.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <map>
#include <vector>

namespace velmora::test {

struct ReadRun {
    QString text;
    bool bold = false;
    int halfPoints = 0;  // 0: not given
    QString picture;     // the relationship of a picture
    qint64 cx = 0;
    qint64 cy = 0;
};

struct ReadParagraph {
    std::vector<ReadRun> runs;
    bool markBold = false;
    int markHalfPoints = 0;
    QString Text() const {
        QString text;
        for (const ReadRun& run : runs) {
            text += run.text;
        }
        return text;
    }
    int Pictures() const {
        int n = 0;
        for (const ReadRun& run : runs) {
            n += !run.picture.isEmpty();
        }
        return n;
    }
};

struct ReadDocument {
    QStringList entries;
    std::vector<ReadParagraph> paragraphs;
    std::map<QString, QString> relationships;  // id -> target, of the main part
    std::map<QString, QByteArray> parts;       // every entry's bytes
};

inline QString Attribute(const QXmlStreamReader& xml, const char* name) {
    for (const QXmlStreamAttribute& a : xml.attributes()) {
        if (a.name() == QLatin1String(name)) {
            return a.value().toString();
        }
    }
    return {};
}

// False with a reason when the package or its main part cannot be read.
inline bool ReadDocx(const QString& path, ReadDocument* doc, QString* error) {
    ZipReader zip;
    if (!zip.Open(path)) {
        *error = zip.ErrorString();
        return false;
    }
    doc->entries = zip.Names();
    for (const QString& name : doc->entries) {
        QByteArray bytes;
        if (!zip.Read(name, &bytes)) {
            *error = QStringLiteral("cannot read ") + name;
            return false;
        }
        doc->parts[name] = bytes;
    }

    QXmlStreamReader rels(doc->parts[QStringLiteral("word/_rels/document.xml.rels")]);
    while (!rels.atEnd()) {
        rels.readNext();
        if (rels.isStartElement() && rels.name() == QLatin1String("Relationship")) {
            doc->relationships[Attribute(rels, "Id")] = Attribute(rels, "Target");
        }
    }

    QXmlStreamReader xml(doc->parts[QStringLiteral("word/document.xml")]);
    bool inParagraphProperties = false;
    ReadRun* run = nullptr;
    while (!xml.atEnd()) {
        xml.readNext();
        const QStringView name = xml.name();
        if (xml.isEndElement()) {
            if (name == QLatin1String("pPr")) {
                inParagraphProperties = false;
            } else if (name == QLatin1String("r")) {
                run = nullptr;
            }
            continue;
        }
        if (!xml.isStartElement()) {
            continue;
        }
        const QString value = Attribute(xml, "val");
        const bool on =
            value.isEmpty() || (value != QLatin1String("0") && value != QLatin1String("false"));
        if (name == QLatin1String("p")) {
            doc->paragraphs.emplace_back();
        } else if (name == QLatin1String("pPr")) {
            inParagraphProperties = true;
        } else if (name == QLatin1String("r") && !doc->paragraphs.empty()) {
            run = &doc->paragraphs.back().runs.emplace_back();
        } else if (name == QLatin1String("b")) {
            (inParagraphProperties ? doc->paragraphs.back().markBold : run->bold) = on;
        } else if (name == QLatin1String("sz")) {
            (inParagraphProperties ? doc->paragraphs.back().markHalfPoints : run->halfPoints) =
                value.toInt();
        } else if (name == QLatin1String("t") && run != nullptr) {
            run->text += xml.readElementText();
        } else if (name == QLatin1String("tab") && run != nullptr) {
            run->text += QLatin1Char('\t');
        } else if (name == QLatin1String("extent") && run != nullptr) {
            run->cx = Attribute(xml, "cx").toLongLong();
            run->cy = Attribute(xml, "cy").toLongLong();
        } else if (name == QLatin1String("blip") && run != nullptr) {
            run->picture = Attribute(xml, "embed");
        }
    }
    if (xml.hasError()) {
        *error = xml.errorString();
        return false;
    }
    return true;
}

}  // namespace velmora::test
