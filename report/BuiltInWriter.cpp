#include "BuiltInWriter.h"

#include "framework/Bitmap.h"
#include "framework/Dialogs.h"
#include "framework/MessageBox.h"
#include "framework/Shell.h"
#include "report/DocumentServer.h"
#include "report/DocxPackage.h"
#include "report/PdfDocument.h"
#include "report/Word_2K.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <map>
#include <memory>

namespace velmora {
namespace {

Q_LOGGING_CATEGORY(lcWriter, "velmora.report.writer")

constexpr qint64 kMaxPictureFile = 256 * 1024 * 1024;
constexpr int kMaxCopies = 100;

struct WriterDocument {
    TDocModel model;
    TCharFormat format;   // what is typed next
    bool hidden = false;  // added without a window: saved as PDF only, opened nowhere
};

// --- Typing.

void AppendText(WriterDocument& d, const QString& text) {
    std::vector<TDocRun>& runs = d.model.paragraphs.back().runs;
    if (!runs.empty() && runs.back().picture < 0 && runs.back().format == d.format) {
        runs.back().text += text;
    } else {
        runs.push_back(TDocRun{text, d.format, -1});
    }
}

void EndParagraph(WriterDocument& d) {
    d.model.paragraphs.back().mark = d.format;
    d.model.paragraphs.emplace_back();
}

// --- Saving.

QString PatientIdOf(const TDocModel& model) {
    const QString label = QStringLiteral("Patienten-ID:");
    for (const TDocParagraph& paragraph : model.paragraphs) {
        const QString text = paragraph.PlainText();
        if (text.startsWith(label)) {
            return text.mid(label.size()).trimmed();
        }
    }
    return {};
}

HRESULT ResultForSystemError(int systemError) {
    switch (systemError) {
        case EACCES:
        case EPERM:
        case EROFS:
            return STG_E_ACCESSDENIED;
        case ENOSPC:
        case EDQUOT:
            return STG_E_MEDIUMFULL;
        default:
            return STG_E_WRITEFAULT;
    }
}

// Names the document after the patient and the time it is saved.
QString TitleDocument(WriterDocument& d, const QDateTime& now) {
    const QString patientId = PatientIdOf(d.model);
    TDocModel& model = d.model;
    model.paragraphs.back().mark = d.format;
    model.title = patientId.isEmpty() ? QStringLiteral("Velmora-Bericht")
                                      : QStringLiteral("Velmora-Bericht ") + patientId;
    model.created = now;
    return patientId;
}

// A hidden document: saved as PDF in the report folder (in *savedAs), under the name a .docx of
// the report would have, and neither opened nor told about; the caller hears of a failure.
HRESULT SavePdfOnly(WriterDocument& d, QString* savedAs) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString patientId = TitleDocument(d, now);
    const QString folder = ReportFolder();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcWriter) << "no report folder for the PDF:" << folder;
        return STG_E_WRITEFAULT;
    }
    TSaveError error;
    for (int copy = 1; copy <= kMaxCopies; ++copy) {
        const QString pdf = QDir(folder).filePath(
            QFileInfo(ReportFileName(patientId, now, copy)).completeBaseName() +
            QStringLiteral(".pdf"));
        if (WritePdfDocument(d.model, pdf, &error)) {
            *savedAs = pdf;
            return S_OK;
        }
        if (!error.exists) {  // another report's: the next name
            qCWarning(lcWriter) << "PDF not saved:" << pdf << error.reason;
            return ResultForSystemError(error.systemError);
        }
    }
    return STG_E_WRITEFAULT;
}

// Saves the document (in *savedAs) and opens it; tells the operator when it cannot be saved, and
// with `tellUnopened` when no program opens it.
HRESULT SaveAndOpen(WriterDocument& d, bool tellUnopened, QString* savedAs) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString patientId = TitleDocument(d, now);
    TDocModel& model = d.model;

    const QString folder = ReportFolder();
    QString path = folder;
    TSaveError error;
    bool saved = false;
    if (!QDir().mkpath(folder)) {
        error.reason = QFileInfo(folder).exists()
                           ? QStringLiteral("Dort liegt schon eine Datei, kein Ordner.")
                           : QStringLiteral("Der Ordner kann nicht angelegt werden.");
    } else {
        for (int copy = 1; copy <= kMaxCopies && !saved; ++copy) {
            path = QDir(folder).filePath(ReportFileName(patientId, now, copy));
            saved = WriteDocxPackage(model, path, &error);
            if (!saved && !error.exists) {
                break;
            }
        }
    }
    if (!saved) {
        qCWarning(lcWriter) << "report not saved:" << path << error.reason;
        MessageBox(QStringLiteral("Der Bericht konnte nicht gespeichert werden.\n\n"
                                  "Datei: %1\nGrund: %2\n\nBitte wählen Sie einen anderen Ort.")
                       .arg(QDir::toNativeSeparators(path), error.reason),
                   QStringLiteral("Fehler"), MB_OK | MB_ICONERROR);
        // Another place, as the operator chooses: the report is not lost (and the window keeps
        // every field, whatever happens here).
        TSaveDialog dialog;
        dialog.SetTitle(QStringLiteral("Bericht speichern unter"));
        dialog.SetFilter(QStringLiteral("Word-Dokument (*.docx)"));
        dialog.SetFileName(QDir(DocumentsFolder()).filePath(ReportFileName(patientId, now, 1)));
        while (!saved && dialog.Execute()) {
            path = dialog.FileName();
            if (QFileInfo(path).suffix().isEmpty()) {
                path += QStringLiteral(".docx");
            }
            // The dialog asked before a file of that name is replaced.
            saved = WriteDocxPackage(model, path, &error, true);
            if (!saved) {
                MessageBox(QStringLiteral("Der Bericht konnte nicht gespeichert werden.\n\n"
                                          "Datei: %1\nGrund: %2")
                               .arg(QDir::toNativeSeparators(path), error.reason),
                           QStringLiteral("Fehler"), MB_OK | MB_ICONERROR);
            }
        }
        if (!saved) {
            return ResultForSystemError(error.systemError);
        }
    }

    // The same report as a PDF beside it, for a machine where no program opens a .docx.
    const QString pdf = QDir(QFileInfo(path).path())
                            .filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".pdf"));
    TSaveError pdfError;
    const bool pdfSaved = WritePdfDocument(model, pdf, &pdfError);
    if (!pdfSaved) {
        qCWarning(lcWriter) << "PDF not saved:" << pdf << pdfError.reason;
    }
    auto open = [](const QString& file) {
        return ShellExecute(QStringLiteral("open"),
                            QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded));
    };
    *savedAs = path;
    if (!open(path) && !(pdfSaved && open(pdf)) && tellUnopened) {
        qCWarning(lcWriter) << "no program opens" << path;
        MessageBox(QStringLiteral("Der Bericht wurde gespeichert:\n%1\n\n"
                                  "Es wurde kein Programm gefunden, das ihn öffnet.")
                       .arg(QDir::toNativeSeparators(path)),
                   QStringLiteral("Bericht"), MB_OK | MB_ICONINFORMATION);
    }
    return S_OK;
}

// --- The writer: what it does with its documents; the object model is the document servers'.

class TBuiltInWriter final : public TDocumentServer {
protected:
    bool Reachable() const override { return true; }
    HRESULT ShowWindows(bool) override { return S_OK; }  // there is no window to show

    HRESULT NewDocument(bool, bool askedHidden, DocumentId* document) override {
        *document = nextId_++;
        documents_[*document] = WriterDocument{};
        documents_[*document].hidden = askedHidden;
        return S_OK;
    }
    HRESULT ApplyFont(DocumentId document, const TFont& font) override {
        documents_.at(document).format = FormatOf(font);
        return S_OK;
    }
    HRESULT InsertText(DocumentId document, const QString& text, const TFont& font) override {
        WriterDocument& d = documents_.at(document);
        d.format = FormatOf(font);
        AppendText(d, text);
        return S_OK;
    }
    HRESULT InsertParagraphBreak(DocumentId document, const TFont& font) override {
        WriterDocument& d = documents_.at(document);
        d.format = FormatOf(font);
        EndParagraph(d);
        return S_OK;
    }
    // Pictures are always embedded, as PNG, at their size at 96 dpi.
    HRESULT InsertPicture(DocumentId document, const QString& path, const TFont& font, float* width,
                          float* height) override {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return file.exists() ? E_ACCESSDENIED : HRESULT_FILE_NOT_FOUND;
        }
        if (file.size() > kMaxPictureFile) {
            return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
        }
        const QByteArray bytes = file.readAll();
        QImage image = DecodeBitmapFile(bytes, nullptr, nullptr);
        if (image.isNull()) {
            image.loadFromData(bytes);
        }
        if (image.isNull()) {
            return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image)) {
            return E_OUTOFMEMORY;
        }
        WriterDocument& d = documents_.at(document);
        d.format = FormatOf(font);
        d.model.pictures.push_back(TDocPicture{png, image.width(), image.height()});
        d.model.paragraphs.back().runs.push_back(
            TDocRun{QString(), d.format, int(d.model.pictures.size() - 1)});
        *width = float(image.width()) * 0.75f;
        *height = float(image.height()) * 0.75f;
        return S_OK;
    }
    // There is nobody to ask: unless told to drop them, the changes are saved (and the report
    // opened). A document that cannot be saved stays open. A caller that asks for the changes to
    // be saved tells the operator where the report is (FullName) itself.
    HRESULT CloseDocument(DocumentId document, TSaveChoice choice, QString* savedAs) override {
        if (choice != TSaveChoice::kDiscard && documents_.at(document).hidden) {
            if (const HRESULT hr = SavePdfOnly(documents_.at(document), savedAs); FAILED(hr)) {
                return hr;
            }
        } else if (choice != TSaveChoice::kDiscard) {
            const bool tellUnopened = choice == TSaveChoice::kAsk;
            if (const HRESULT hr = SaveAndOpen(documents_.at(document), tellUnopened, savedAs);
                FAILED(hr)) {
                return hr;
            }
        }
        documents_.erase(document);
        return S_OK;
    }
    // Documents still open are dropped: a report whose run ended early is incomplete.
    HRESULT QuitApplication() override {
        documents_.clear();
        return S_OK;
    }

private:
    static TCharFormat FormatOf(const TFont& font) {
        TCharFormat format;
        format.bold = font.bold.value_or(format.bold);
        format.size = font.size.value_or(format.size);
        return format;
    }

    std::map<DocumentId, WriterDocument> documents_;
    DocumentId nextId_ = 1;
};

bool CannotStandInFileName(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c);
}

}  // namespace

TServerFactory BuiltInWriterFactory(TServerRegistry& registry) {
    return [&registry](IUnknown** server) -> HRESULT {
        return TDocumentServer::Publish(std::make_shared<TBuiltInWriter>(), registry, server);
    };
}

std::uint32_t RegisterBuiltInWriter(TServerRegistry& registry) {
    return registry.RegisterFactory(Word_2k::CLSID_WordApplication,
                                    QString::fromLatin1(Word_2k::kWordProgId),
                                    BuiltInWriterFactory(registry));
}

QString DocumentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

QString ReportFolder() {
    return QDir(DocumentsFolder()).filePath(QStringLiteral("Velmora"));
}

QString ReportFileName(const QString& patientId, const QDateTime& when, int copy) {
    QString id = patientId;
    for (QChar& c : id) {
        if (CannotStandInFileName(c)) {
            c = QLatin1Char('_');
        }
    }
    id = id.trimmed();
    if (id.size() > 64) {
        id.truncate(id[63].isHighSurrogate() ? 63 : 64);
        id = id.trimmed();
    }
    QString name = QStringLiteral("Velmora-Bericht ");
    if (!id.isEmpty()) {
        name += id + QLatin1Char(' ');
    }
    name += when.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"));
    if (copy > 1) {
        name += QStringLiteral(" (%1)").arg(copy);
    }
    return name + QStringLiteral(".docx");
}

}  // namespace velmora
