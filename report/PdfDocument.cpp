#include "report/PdfDocument.h"

#include "framework/German.h"
#include "framework/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTemporaryFile>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

#include <cerrno>

namespace velmora {

namespace {

// The .docx's default face (Times New Roman), as fonts-liberation2 provides it metric for metric.
constexpr char kFace[] = "Liberation Serif";
// The .docx's page margins, in millimetres.
constexpr double kMarginSide = 25.0;
constexpr double kMarginTop = 25.0;
constexpr double kMarginBottom = 20.0;
// Text width of an A4 page between the margins, in pixels at 96 per inch.
constexpr double kTextWidthPixels = (210.0 - 2 * kMarginSide) / 25.4 * 96.0;

QTextCharFormat CharFormat(const TCharFormat& format) {
    QTextCharFormat f;
    f.setFontFamilies({QString::fromLatin1(kFace)});
    f.setFontPointSize(format.size);
    f.setFontWeight(format.bold ? QFont::Bold : QFont::Normal);
    return f;
}

void Build(const TDocModel& model, QTextDocument& document) {
    document.setDocumentMargin(0);
    QFont font(QString::fromLatin1(kFace));
    font.setPointSizeF(12);
    document.setDefaultFont(font);
    QTextCursor cursor(&document);
    QTextBlockFormat block;
    block.setTopMargin(0);
    block.setBottomMargin(0);
    for (std::size_t p = 0; p < model.paragraphs.size(); ++p) {
        const TDocParagraph& paragraph = model.paragraphs[p];
        if (p == 0) {
            cursor.setBlockFormat(block);
        } else {
            cursor.insertBlock(block);
        }
        // The mark's format gives an empty paragraph its height.
        cursor.setBlockCharFormat(CharFormat(paragraph.mark));
        for (const TDocRun& run : paragraph.runs) {
            if (run.picture >= 0 && std::size_t(run.picture) < model.pictures.size()) {
                const TDocPicture& picture = model.pictures[std::size_t(run.picture)];
                const QString name = QStringLiteral("picture%1.png").arg(run.picture);
                document.addResource(QTextDocument::ImageResource, QUrl(name),
                                     QImage::fromData(picture.png, "PNG"));
                const double scale =
                    picture.width > kTextWidthPixels ? kTextWidthPixels / picture.width : 1.0;
                QTextImageFormat image;
                image.setName(name);
                image.setWidth(picture.width * scale);
                image.setHeight(picture.height * scale);
                cursor.insertImage(image);
            } else {
                cursor.insertText(run.text, CharFormat(run.format));
            }
        }
    }
}

}  // namespace

bool WritePdfDocument(const TDocModel& model, const QString& path, TSaveError* error) {
    // Text is laid out with the fonts of the graphical application.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        *error = TSaveError{QStringLiteral("Ohne grafische Oberfläche wird kein PDF erstellt."), 0,
                            false};
        return false;
    }
    const QFileInfo info(path);
    if (info.exists()) {
        *error = TSaveError{ReasonOf(EEXIST), EEXIST, true};
        return false;
    }
    // Written beside it under a name of its own, then moved into place whole.
    QTemporaryFile file(info.dir().filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    errno = 0;
    if (!file.open()) {
        const int code = errno != 0 ? errno : EACCES;
        *error = TSaveError{ReasonOf(code), code, false};
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                        QMarginsF(kMarginSide, kMarginTop, kMarginSide, kMarginBottom),
                        QPageLayout::Millimeter));
        writer.setTitle(model.title);
        writer.setCreator(QStringLiteral("Velmora"));
        QTextDocument document;
        Build(model, document);
        document.print(&writer);
    }
    if (!file.flush()) {
        *error = TSaveError{ReasonOf(ENOSPC), ENOSPC, false};
        return false;
    }
    int code = 0;
    if (!MoveIntoPlace(file.fileName(), path, false, &code)) {
        *error = TSaveError{ReasonOf(code), code, code == EEXIST};
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

}  // namespace velmora
