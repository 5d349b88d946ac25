#include "DocxPackage.h"

#include "report/ZipArchive.h"

#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace velmora {
namespace {

const QString kW = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString kR =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString kWp =
    QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing");
const QString kA = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
const QString kPic = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/picture");
const QString kRelationships =
    QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
const QString kOfficeRelationships =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");

// A4 with margins of 2.5 cm left, right and top and 2 cm at the bottom, in twentieths of a
// point; an English Metric Unit is 1/635 of that, and a pixel at 96 dpi 9525 of them.
constexpr int kPageWidth = 11906;
constexpr int kPageHeight = 16838;
constexpr int kMarginSide = 1417;
constexpr int kMarginTop = 1417;
constexpr int kMarginBottom = 1134;
constexpr qint64 kEmuPerTwip = 635;
constexpr qint64 kEmuPerPixel = 9525;
constexpr qint64 kTextWidth = (kPageWidth - 2 * kMarginSide) * kEmuPerTwip;
constexpr qint64 kTextHeight = (kPageHeight - kMarginTop - kMarginBottom) * kEmuPerTwip;

// Text that XML 1.0 can carry: control characters other than tab and line breaks are dropped,
// unpaired surrogates and non-characters become the replacement character.
QString XmlSafe(const QString& text) {
    QString safe;
    safe.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            safe += text[i];
            safe += text[++i];
        } else if (c < 0x20) {
            if (c == u'\t' || c == u'\n' || c == u'\r') {
                safe += QChar(c);
            }
        } else if (QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
            safe += QChar(QChar::ReplacementCharacter);
        } else {
            safe += QChar(c);
        }
    }
    return safe;
}

QString Number(qint64 value) {
    return QString::number(value);
}

// An XML writer into a byte array with the declaration that Office parts carry.
class Part {
public:
    Part() : xml_(&bytes_) { xml_.writeStartDocument(QStringLiteral("1.0"), true); }
    QXmlStreamWriter& operator*() { return xml_; }
    QXmlStreamWriter* operator->() { return &xml_; }
    QByteArray Finish() {
        xml_.writeEndDocument();
        return bytes_;
    }

private:
    QByteArray bytes_;
    QXmlStreamWriter xml_;
};

void Empty(QXmlStreamWriter& x, const QString& name, const QString& attribute = {},
           const QString& value = {}) {
    x.writeEmptyElement(name);
    if (!attribute.isEmpty()) {
        x.writeAttribute(attribute, value);
    }
}

void RunProperties(QXmlStreamWriter& x, const TCharFormat& format) {
    x.writeStartElement(QStringLiteral("w:rPr"));
    if (format.bold) {
        Empty(x, QStringLiteral("w:b"));
        Empty(x, QStringLiteral("w:bCs"));
    }
    const QString halfPoints = Number(std::lround(format.size * 2));
    Empty(x, QStringLiteral("w:sz"), QStringLiteral("w:val"), halfPoints);
    Empty(x, QStringLiteral("w:szCs"), QStringLiteral("w:val"), halfPoints);
    x.writeEndElement();
}

// Text with its blanks kept; a tab is an element of its own.
void TextRun(QXmlStreamWriter& x, const TDocRun& run) {
    x.writeStartElement(QStringLiteral("w:r"));
    RunProperties(x, run.format);
    const QStringList pieces = run.text.split(QLatin1Char('\t'));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            Empty(x, QStringLiteral("w:tab"));
        }
        if (pieces[i].isEmpty()) {
            continue;
        }
        x.writeStartElement(QStringLiteral("w:t"));
        x.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
        x.writeCharacters(XmlSafe(pieces[i]));
        x.writeEndElement();
    }
    x.writeEndElement();
}

void PictureRun(QXmlStreamWriter& x, const TDocRun& run, const TDocPicture& picture) {
    qint64 cx = picture.width * kEmuPerPixel;
    qint64 cy = picture.height * kEmuPerPixel;
    if (cx > kTextWidth || cy > kTextHeight) {
        const double scale =
            std::min(double(kTextWidth) / double(cx), double(kTextHeight) / double(cy));
        cx = std::max<qint64>(1, std::llround(double(cx) * scale));
        cy = std::max<qint64>(1, std::llround(double(cy) * scale));
    }
    const QString id = Number(run.picture + 1);
    const QString width = Number(cx);
    const QString height = Number(cy);

    x.writeStartElement(QStringLiteral("w:r"));
    RunProperties(x, run.format);
    x.writeStartElement(QStringLiteral("w:drawing"));
    x.writeStartElement(QStringLiteral("wp:inline"));
    for (const char* side : {"distT", "distB", "distL", "distR"}) {
        x.writeAttribute(QString::fromLatin1(side), QStringLiteral("0"));
    }
    x.writeEmptyElement(QStringLiteral("wp:extent"));
    x.writeAttribute(QStringLiteral("cx"), width);
    x.writeAttribute(QStringLiteral("cy"), height);
    x.writeEmptyElement(QStringLiteral("wp:docPr"));
    x.writeAttribute(QStringLiteral("id"), id);
    x.writeAttribute(QStringLiteral("name"), QStringLiteral("Bild ") + id);
    x.writeStartElement(QStringLiteral("wp:cNvGraphicFramePr"));
    Empty(x, QStringLiteral("a:graphicFrameLocks"), QStringLiteral("noChangeAspect"),
          QStringLiteral("1"));
    x.writeEndElement();
    x.writeStartElement(QStringLiteral("a:graphic"));
    x.writeStartElement(QStringLiteral("a:graphicData"));
    x.writeAttribute(QStringLiteral("uri"), kPic);
    x.writeStartElement(QStringLiteral("pic:pic"));
    x.writeStartElement(QStringLiteral("pic:nvPicPr"));
    x.writeEmptyElement(QStringLiteral("pic:cNvPr"));
    x.writeAttribute(QStringLiteral("id"), id);
    x.writeAttribute(QStringLiteral("name"), QStringLiteral("image%1.png").arg(id));
    Empty(x, QStringLiteral("pic:cNvPicPr"));
    x.writeEndElement();
    x.writeStartElement(QStringLiteral("pic:blipFill"));
    Empty(x, QStringLiteral("a:blip"), QStringLiteral("r:embed"), QStringLiteral("rIdImage") + id);
    x.writeStartElement(QStringLiteral("a:stretch"));
    Empty(x, QStringLiteral("a:fillRect"));
    x.writeEndElement();
    x.writeEndElement();
    x.writeStartElement(QStringLiteral("pic:spPr"));
    x.writeStartElement(QStringLiteral("a:xfrm"));
    x.writeEmptyElement(QStringLiteral("a:off"));
    x.writeAttribute(QStringLiteral("x"), QStringLiteral("0"));
    x.writeAttribute(QStringLiteral("y"), QStringLiteral("0"));
    x.writeEmptyElement(QStringLiteral("a:ext"));
    x.writeAttribute(QStringLiteral("cx"), width);
    x.writeAttribute(QStringLiteral("cy"), height);
    x.writeEndElement();
    x.writeStartElement(QStringLiteral("a:prstGeom"));
    x.writeAttribute(QStringLiteral("prst"), QStringLiteral("rect"));
    Empty(x, QStringLiteral("a:avLst"));
    x.writeEndElement();
    x.writeEndElement();  // spPr
    x.writeEndElement();  // pic
    x.writeEndElement();  // graphicData
    x.writeEndElement();  // graphic
    x.writeEndElement();  // inline
    x.writeEndElement();  // drawing
    x.writeEndElement();  // r
}

QByteArray ContentTypes() {
    Part part;
    QXmlStreamWriter& x = *part;
    x.writeStartElement(QStringLiteral("Types"));
    x.writeDefaultNamespace(
        QStringLiteral("http://schemas.openxmlformats.org/package/2006/content-types"));
    const struct {
        const char* extension;
        const char* type;
    } defaults[] = {{"rels", "application/vnd.openxmlformats-package.relationships+xml"},
                    {"xml", "application/xml"},
                    {"png", "image/png"}};
    for (const auto& d : defaults) {
        x.writeEmptyElement(QStringLiteral("Default"));
        x.writeAttribute(QStringLiteral("Extension"), QString::fromLatin1(d.extension));
        x.writeAttribute(QStringLiteral("ContentType"), QString::fromLatin1(d.type));
    }
    const struct {
        const char* part;
        const char* type;
    } overrides[] = {
        {"/word/document.xml",
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"},
        {"/word/styles.xml",
         "application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"},
        {"/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml"}};
    for (const auto& o : overrides) {
        x.writeEmptyElement(QStringLiteral("Override"));
        x.writeAttribute(QStringLiteral("PartName"), QString::fromLatin1(o.part));
        x.writeAttribute(QStringLiteral("ContentType"), QString::fromLatin1(o.type));
    }
    x.writeEndElement();
    return part.Finish();
}

struct Relationship {
    QString id;
    QString type;
    QString target;
};

QByteArray Relationships(const std::vector<Relationship>& relationships) {
    Part part;
    QXmlStreamWriter& x = *part;
    x.writeStartElement(QStringLiteral("Relationships"));
    x.writeDefaultNamespace(kRelationships);
    for (const Relationship& r : relationships) {
        x.writeEmptyElement(QStringLiteral("Relationship"));
        x.writeAttribute(QStringLiteral("Id"), r.id);
        x.writeAttribute(QStringLiteral("Type"), r.type);
        x.writeAttribute(QStringLiteral("Target"), r.target);
    }
    x.writeEndElement();
    return part.Finish();
}

// The new document's look: Times New Roman 12 point, single lines without spacing, German.
QByteArray Styles() {
    Part part;
    QXmlStreamWriter& x = *part;
    x.writeStartElement(QStringLiteral("w:styles"));
    x.writeNamespace(kW, QStringLiteral("w"));
    x.writeStartElement(QStringLiteral("w:docDefaults"));
    x.writeStartElement(QStringLiteral("w:rPrDefault"));
    x.writeStartElement(QStringLiteral("w:rPr"));
    x.writeEmptyElement(QStringLiteral("w:rFonts"));
    for (const char* script : {"w:ascii", "w:hAnsi", "w:cs", "w:eastAsia"}) {
        x.writeAttribute(QString::fromLatin1(script), QStringLiteral("Times New Roman"));
    }
    Empty(x, QStringLiteral("w:sz"), QStringLiteral("w:val"), QStringLiteral("24"));
    Empty(x, QStringLiteral("w:szCs"), QStringLiteral("w:val"), QStringLiteral("24"));
    Empty(x, QStringLiteral("w:lang"), QStringLiteral("w:val"), QStringLiteral("de-DE"));
    x.writeEndElement();
    x.writeEndElement();
    x.writeStartElement(QStringLiteral("w:pPrDefault"));
    x.writeStartElement(QStringLiteral("w:pPr"));
    x.writeEmptyElement(QStringLiteral("w:spacing"));
    x.writeAttribute(QStringLiteral("w:after"), QStringLiteral("0"));
    x.writeAttribute(QStringLiteral("w:line"), QStringLiteral("240"));
    x.writeAttribute(QStringLiteral("w:lineRule"), QStringLiteral("auto"));
    x.writeEndElement();
    x.writeEndElement();
    x.writeEndElement();  // docDefaults
    x.writeStartElement(QStringLiteral("w:style"));
    x.writeAttribute(QStringLiteral("w:type"), QStringLiteral("paragraph"));
    x.writeAttribute(QStringLiteral("w:default"), QStringLiteral("1"));
    x.writeAttribute(QStringLiteral("w:styleId"), QStringLiteral("Standard"));
    Empty(x, QStringLiteral("w:name"), QStringLiteral("w:val"), QStringLiteral("Normal"));
    Empty(x, QStringLiteral("w:qFormat"));
    x.writeEndElement();
    x.writeEndElement();
    return part.Finish();
}

QByteArray CoreProperties(const TDocModel& model) {
    Part part;
    QXmlStreamWriter& x = *part;
    x.writeStartElement(QStringLiteral("cp:coreProperties"));
    x.writeNamespace(
        QStringLiteral("http://schemas.openxmlformats.org/package/2006/metadata/core-properties"),
        QStringLiteral("cp"));
    x.writeNamespace(QStringLiteral("http://purl.org/dc/elements/1.1/"), QStringLiteral("dc"));
    x.writeNamespace(QStringLiteral("http://purl.org/dc/terms/"), QStringLiteral("dcterms"));
    x.writeNamespace(QStringLiteral("http://www.w3.org/2001/XMLSchema-instance"),
                     QStringLiteral("xsi"));
    x.writeTextElement(QStringLiteral("dc:title"), XmlSafe(model.title));
    x.writeTextElement(QStringLiteral("dc:creator"), QStringLiteral("Velmora"));
    if (model.created.isValid()) {
        x.writeStartElement(QStringLiteral("dcterms:created"));
        x.writeAttribute(QStringLiteral("xsi:type"), QStringLiteral("dcterms:W3CDTF"));
        x.writeCharacters(model.created.toUTC().toString(Qt::ISODate));
        x.writeEndElement();
    }
    x.writeEndElement();
    return part.Finish();
}

}  // namespace

QString TDocParagraph::PlainText() const {
    QString text;
    for (const TDocRun& run : runs) {
        text += run.text;
    }
    return text;
}

QByteArray DocumentXml(const TDocModel& model) {
    Part part;
    QXmlStreamWriter& x = *part;
    x.writeStartElement(QStringLiteral("w:document"));
    x.writeNamespace(kW, QStringLiteral("w"));
    x.writeNamespace(kR, QStringLiteral("r"));
    x.writeNamespace(kWp, QStringLiteral("wp"));
    x.writeNamespace(kA, QStringLiteral("a"));
    x.writeNamespace(kPic, QStringLiteral("pic"));
    x.writeStartElement(QStringLiteral("w:body"));
    for (const TDocParagraph& paragraph : model.paragraphs) {
        x.writeStartElement(QStringLiteral("w:p"));
        x.writeStartElement(QStringLiteral("w:pPr"));
        RunProperties(x, paragraph.mark);
        x.writeEndElement();
        for (const TDocRun& run : paragraph.runs) {
            if (run.picture >= 0 && std::size_t(run.picture) < model.pictures.size()) {
                PictureRun(x, run, model.pictures[std::size_t(run.picture)]);
            } else if (!run.text.isEmpty()) {
                TextRun(x, run);
            }
        }
        x.writeEndElement();
    }
    x.writeStartElement(QStringLiteral("w:sectPr"));
    x.writeEmptyElement(QStringLiteral("w:pgSz"));
    x.writeAttribute(QStringLiteral("w:w"), Number(kPageWidth));
    x.writeAttribute(QStringLiteral("w:h"), Number(kPageHeight));
    x.writeEmptyElement(QStringLiteral("w:pgMar"));
    x.writeAttribute(QStringLiteral("w:top"), Number(kMarginTop));
    x.writeAttribute(QStringLiteral("w:right"), Number(kMarginSide));
    x.writeAttribute(QStringLiteral("w:bottom"), Number(kMarginBottom));
    x.writeAttribute(QStringLiteral("w:left"), Number(kMarginSide));
    x.writeAttribute(QStringLiteral("w:header"), QStringLiteral("708"));
    x.writeAttribute(QStringLiteral("w:footer"), QStringLiteral("708"));
    x.writeAttribute(QStringLiteral("w:gutter"), QStringLiteral("0"));
    x.writeEndElement();  // sectPr
    x.writeEndElement();  // body
    x.writeEndElement();  // document
    return part.Finish();
}

bool WriteDocxPackage(const TDocModel& model, const QString& path, TSaveError* error,
                      bool replace) {
    std::vector<Relationship> documentRelationships = {
        {QStringLiteral("rIdStyles"), kOfficeRelationships + QStringLiteral("styles"),
         QStringLiteral("styles.xml")}};
    for (std::size_t i = 0; i < model.pictures.size(); ++i) {
        const QString n = Number(qint64(i) + 1);
        documentRelationships.push_back({QStringLiteral("rIdImage") + n,
                                         kOfficeRelationships + QStringLiteral("image"),
                                         QStringLiteral("media/image%1.png").arg(n)});
    }
    const std::vector<Relationship> packageRelationships = {
        {QStringLiteral("rIdDocument"), kOfficeRelationships + QStringLiteral("officeDocument"),
         QStringLiteral("word/document.xml")},
        {QStringLiteral("rIdCore"),
         QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
                        "core-properties"),
         QStringLiteral("docProps/core.xml")}};

    ZipWriter zip;
    bool ok = zip.Create(path, replace) &&
              zip.Add(QStringLiteral("[Content_Types].xml"), ContentTypes(), true) &&
              zip.Add(QStringLiteral("_rels/.rels"), Relationships(packageRelationships), true) &&
              zip.Add(QStringLiteral("word/document.xml"), DocumentXml(model), true) &&
              zip.Add(QStringLiteral("word/_rels/document.xml.rels"),
                      Relationships(documentRelationships), true) &&
              zip.Add(QStringLiteral("word/styles.xml"), Styles(), true) &&
              zip.Add(QStringLiteral("docProps/core.xml"), CoreProperties(model), true);
    for (std::size_t i = 0; ok && i < model.pictures.size(); ++i) {
        // PNG is compressed already.
        ok = zip.Add(QStringLiteral("word/media/image%1.png").arg(i + 1), model.pictures[i].png,
                     false);
    }
    ok = ok && zip.Commit();
    if (!ok && error != nullptr) {
        *error = TSaveError{zip.ErrorString(), zip.SystemError(), zip.Exists()};
    }
    return ok;
}

}  // namespace velmora
