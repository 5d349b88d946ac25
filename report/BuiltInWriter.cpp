#include "BuiltInWriter.h"

#include "framework/Bitmap.h"
#include "framework/MessageBox.h"
#include "framework/Shell.h"
#include "report/ConnectionPoint.h"
#include "report/DocxPackage.h"
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
#include <cmath>
#include <memory>

namespace velmora {
namespace {

Q_LOGGING_CATEGORY(lcWriter, "velmora.report.writer")

using namespace Word_2k;

// Event numbers of the application's event interface.
constexpr int kEventQuit = 2;
constexpr int kEventDocumentChange = 3;
constexpr int kEventDocumentBeforeClose = 6;
constexpr int kEventNewDocument = 9;

constexpr qint64 kMaxPictureFile = 256 * 1024 * 1024;
constexpr int kMaxCopies = 100;

struct OpenDocument {
    TDocModel model;
    TCharFormat format;  // what is typed next
    bool open = true;
};

struct WriterState {
    TServerRegistry* registry = nullptr;
    std::uint32_t running = 0;  // the registration as a running instance
    bool visible = false;
    bool quit = false;
    std::vector<std::shared_ptr<OpenDocument>> documents;  // the last one is the active one
    TComInterface<TConnectionPoint> events{new TConnectionPoint};

    OpenDocument* Active() const { return documents.empty() ? nullptr : documents.back().get(); }
    void Fire(int dispId, std::span<TVariant> params = {}) { events.get()->Fire(dispId, params); }
};
using State = std::shared_ptr<WriterState>;

// Hands a new reference to `object` out through `place`; an object that nobody takes goes.
template <class Interface>
HRESULT HandOut(Interface* object, Interface** place) {
    const TComInterface<Interface> held(object);
    if (place == nullptr) {
        return E_POINTER;
    }
    *place = object;
    object->AddRef();
    return S_OK;
}

// --- Typing.

void AppendText(OpenDocument& d, const QString& text) {
    std::vector<TDocRun>& runs = d.model.paragraphs.back().runs;
    if (!runs.empty() && runs.back().picture < 0 && runs.back().format == d.format) {
        runs.back().text += text;
    } else {
        runs.push_back(TDocRun{text, d.format, -1});
    }
}

void EndParagraph(OpenDocument& d) {
    d.model.paragraphs.back().mark = d.format;
    d.model.paragraphs.emplace_back();
}

void TypeInto(OpenDocument& d, const QString& text) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            continue;
        }
        if (i > start) {
            AppendText(d, text.mid(start, i - start));
        }
        EndParagraph(d);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            ++i;
        }
        start = i + 1;
    }
    if (start < text.size()) {
        AppendText(d, text.mid(start));
    }
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

// Saves the document and opens it; tells the operator when either cannot be done.
HRESULT SaveAndOpen(OpenDocument& d) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString patientId = PatientIdOf(d.model);
    TDocModel& model = d.model;
    model.paragraphs.back().mark = d.format;
    model.title = patientId.isEmpty() ? QStringLiteral("Velmora-Bericht")
                                      : QStringLiteral("Velmora-Bericht ") + patientId;
    model.created = now;

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
                                  "Datei: %1\nGrund: %2")
                       .arg(QDir::toNativeSeparators(path), error.reason),
                   QStringLiteral("Fehler"), MB_OK | MB_ICONERROR);
        return ResultForSystemError(error.systemError);
    }

    if (!ShellExecute(QStringLiteral("open"),
                      QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded))) {
        qCWarning(lcWriter) << "no program opens" << path;
        MessageBox(QStringLiteral("Der Bericht wurde gespeichert:\n%1\n\n"
                                  "Es wurde kein Programm gefunden, das ihn öffnet.")
                       .arg(QDir::toNativeSeparators(path)),
                   QStringLiteral("Bericht"), MB_OK | MB_ICONINFORMATION);
    }
    return S_OK;
}

// SaveChanges given as false (0): close without saving. Left out or anything else: save.
bool KeepChanges(const TVariant* saveChanges) {
    if (saveChanges == nullptr || saveChanges->IsMissing()) {
        return true;
    }
    return !((saveChanges->vt == VT_BOOL || saveChanges->vt == VT_I4) && saveChanges->lVal == 0);
}

// --- The objects.

class WriterInlineShape final : public TComObject<InlineShape> {
public:
    WriterInlineShape(float width, float height) : width_(width), height_(height) {}
    HRESULT get_Width(float* prop) override { return Give(width_, prop); }
    HRESULT get_Height(float* prop) override { return Give(height_, prop); }

private:
    static HRESULT Give(float value, float* prop) {
        if (prop == nullptr) {
            return E_POINTER;
        }
        *prop = value;
        return S_OK;
    }
    float width_;
    float height_;
};

// Base of the objects that act on the state: the check that the writer is still running.
class StateObject {
protected:
    explicit StateObject(State state) : state_(std::move(state)) {}
    // The document the selection stands in, or null when the writer has ended or has none.
    HRESULT ActiveDocument(OpenDocument** document) const {
        *document = nullptr;
        if (state_->quit) {
            return RPC_E_DISCONNECTED;
        }
        *document = state_->Active();
        return *document != nullptr ? S_OK : DISP_E_EXCEPTION;
    }
    State state_;
};

class WriterInlineShapes final : public TComObject<InlineShapes>, StateObject {
public:
    explicit WriterInlineShapes(State state) : StateObject(std::move(state)) {}

    HRESULT AddPicture(const WideString& FileName, TVariant*, TVariant*, TVariant* Range,
                       InlineShape** prop) override {
        if (prop != nullptr) {
            *prop = nullptr;
        }
        OpenDocument* d = nullptr;
        if (const HRESULT hr = ActiveDocument(&d); FAILED(hr)) {
            return hr;
        }
        // Pictures go to the selection; they are always embedded, whatever LinkToFile says.
        if (Range != nullptr && !Range->IsMissing()) {
            return E_INVALIDARG;
        }
        QFile file(FileName.ToQString());
        if (FileName.IsEmpty() || !file.open(QIODevice::ReadOnly)) {
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
        d->model.pictures.push_back(TDocPicture{png, image.width(), image.height()});
        d->model.paragraphs.back().runs.push_back(
            TDocRun{QString(), d->format, int(d->model.pictures.size() - 1)});
        return HandOut<InlineShape>(
            new WriterInlineShape(float(image.width()) * 0.75f, float(image.height()) * 0.75f),
            prop);
    }
};

class WriterFont final : public TComObject<_Font>, StateObject {
public:
    explicit WriterFont(State state) : StateObject(std::move(state)) {}

    HRESULT set_Bold(std::int32_t prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = ActiveDocument(&d);
        if (SUCCEEDED(hr)) {
            d->format.bold = prop != 0;
        }
        return hr;
    }
    HRESULT set_Size(float prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = ActiveDocument(&d);
        if (FAILED(hr)) {
            return hr;
        }
        if (!(prop >= 1.0f && prop <= 1638.0f)) {
            return E_INVALIDARG;
        }
        d->format.size = std::round(prop * 2.0f) / 2.0f;  // half points
        return S_OK;
    }
};

class WriterSelection final : public TComObject<Selection>, StateObject {
public:
    explicit WriterSelection(State state) : StateObject(std::move(state)) {}

    HRESULT get_Font(_Font** prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = ActiveDocument(&d);
        return FAILED(hr) ? Refuse(prop, hr) : HandOut<_Font>(new WriterFont(state_), prop);
    }
    HRESULT TypeText(const WideString& Text) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = ActiveDocument(&d);
        if (SUCCEEDED(hr)) {
            TypeInto(*d, Text.ToQString());
        }
        return hr;
    }
    HRESULT TypeParagraph() override {
        OpenDocument* d = nullptr;
        const HRESULT hr = ActiveDocument(&d);
        if (SUCCEEDED(hr)) {
            EndParagraph(*d);
        }
        return hr;
    }
    HRESULT get_InlineShapes(InlineShapes** prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = ActiveDocument(&d);
        return FAILED(hr) ? Refuse(prop, hr)
                          : HandOut<InlineShapes>(new WriterInlineShapes(state_), prop);
    }

private:
    template <class Interface>
    static HRESULT Refuse(Interface** prop, HRESULT hr) {
        if (prop != nullptr) {
            *prop = nullptr;
        }
        return hr;
    }
};

class WriterDocument final : public TComObject<_Document>, StateObject {
public:
    WriterDocument(State state, std::shared_ptr<OpenDocument> document)
        : StateObject(std::move(state)), document_(std::move(document)) {}

    HRESULT Close(TVariant* SaveChanges, TVariant*, TVariant*) override {
        if (state_->quit || !document_->open) {
            return RPC_E_DISCONNECTED;
        }
        TVariant args[2] = {TVariant::Unknown(static_cast<_Document*>(this)),
                            TVariant::Bool(false)};
        state_->Fire(kEventDocumentBeforeClose, args);
        if (args[1].lVal != 0) {
            return E_ABORT;
        }
        if (KeepChanges(SaveChanges)) {
            if (const HRESULT hr = SaveAndOpen(*document_); FAILED(hr)) {
                return hr;
            }
        }
        document_->open = false;
        std::erase(state_->documents, document_);
        state_->Fire(kEventDocumentChange);
        return S_OK;
    }

private:
    std::shared_ptr<OpenDocument> document_;
};

class WriterDocuments final : public TComObject<Documents>, StateObject {
public:
    explicit WriterDocuments(State state) : StateObject(std::move(state)) {}

    HRESULT Add(TVariant* Template, TVariant*, TVariant*, TVariant*, _Document** prop) override {
        if (prop != nullptr) {
            *prop = nullptr;
        }
        if (state_->quit) {
            return RPC_E_DISCONNECTED;
        }
        // There are no templates to start from.
        if (Template != nullptr && !Template->IsMissing()) {
            return HRESULT_FILE_NOT_FOUND;
        }
        auto document = std::make_shared<OpenDocument>();
        state_->documents.push_back(document);
        TComInterface<_Document> added(new WriterDocument(state_, document));
        TVariant args[1] = {TVariant::Unknown(added.get())};
        state_->Fire(kEventNewDocument, args);
        state_->Fire(kEventDocumentChange);
        return HandOut<_Document>(added.get(), prop);
    }
};

class WriterApplication final : public TComObject<_Application, IConnectionPointContainer>,
                                StateObject {
public:
    explicit WriterApplication(State state) : StateObject(std::move(state)) {}

    HRESULT set_Visible(TOLEBOOL prop) override {
        if (state_->quit) {
            return RPC_E_DISCONNECTED;
        }
        state_->visible = prop != 0;
        return S_OK;
    }
    HRESULT get_Documents(Documents** prop) override {
        if (state_->quit) {
            return Refuse(prop);
        }
        return HandOut<Documents>(new WriterDocuments(state_), prop);
    }
    HRESULT get_Selection(Selection** prop) override {
        OpenDocument* d = nullptr;
        if (const HRESULT hr = ActiveDocument(&d); FAILED(hr)) {
            return Refuse(prop, hr);
        }
        return HandOut<Selection>(new WriterSelection(state_), prop);
    }
    HRESULT get_ActiveDocument(_Document** prop) override {
        OpenDocument* d = nullptr;
        if (const HRESULT hr = ActiveDocument(&d); FAILED(hr)) {
            return Refuse(prop, hr);
        }
        return HandOut<_Document>(new WriterDocument(state_, state_->documents.back()), prop);
    }
    HRESULT Quit(TVariant*, TVariant*, TVariant*) override {
        if (state_->quit) {
            return RPC_E_DISCONNECTED;
        }
        // Documents still open are dropped: a report whose run ended early is incomplete.
        const TComInterface<_Application> self(this);
        state_->quit = true;
        for (const auto& document : state_->documents) {
            document->open = false;
        }
        state_->documents.clear();
        state_->Fire(kEventQuit);
        if (state_->running != 0) {
            state_->registry->RevokeActiveObject(std::exchange(state_->running, 0));
        }
        return S_OK;
    }

    HRESULT FindConnectionPoint(const GUID& iid, IConnectionPoint** point) override {
        if (iid != DIID_ApplicationEvents) {
            return Refuse(point, CONNECT_E_NOCONNECTION);
        }
        return HandOut<IConnectionPoint>(state_->events.get(), point);
    }

private:
    template <class Interface>
    static HRESULT Refuse(Interface** prop, HRESULT hr = RPC_E_DISCONNECTED) {
        if (prop != nullptr) {
            *prop = nullptr;
        }
        return hr;
    }
};

bool CannotStandInFileName(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c);
}

}  // namespace

std::uint32_t RegisterBuiltInWriter(TServerRegistry& registry) {
    return registry.RegisterFactory(
        CLSID_WordApplication, QString::fromLatin1(kWordProgId),
        [&registry](IUnknown** server) -> HRESULT {
            auto state = std::make_shared<WriterState>();
            state->registry = &registry;
            const TComInterface<_Application> application(new WriterApplication(state));
            registry.RegisterActiveObject(CLSID_WordApplication, application.get(),
                                          &state->running);
            return application.get()->QueryInterface(IUnknown::IID,
                                                     reinterpret_cast<void**>(server));
        });
}

QString ReportFolder() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        documents = QDir::homePath();
    }
    return QDir(documents).filePath(QStringLiteral("Velmora"));
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
