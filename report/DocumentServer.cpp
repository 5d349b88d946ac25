#include "DocumentServer.h"

#include "report/ConnectionPoint.h"
#include "report/Word_2K.h"

#include <QFileInfo>

#include <cmath>

namespace velmora {

using namespace Word_2k;

namespace {

// Event numbers of the application's event interface.
constexpr int kEventQuit = 2;
constexpr int kEventDocumentChange = 3;
constexpr int kEventDocumentBeforeClose = 6;
constexpr int kEventNewDocument = 9;

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

template <class Interface>
HRESULT Refuse(Interface** place, HRESULT hr) {
    if (place != nullptr) {
        *place = nullptr;
    }
    return hr;
}

}  // namespace

// Base of the objects: the server they act on, held for as long as they live.
class TDocumentServerObject {
public:
    explicit TDocumentServerObject(std::shared_ptr<TDocumentServer> server)
        : server_(std::move(server)) {}

protected:
    std::shared_ptr<TDocumentServer> server_;
};

class TDocumentServer::InlineShapeObject final : public TComObject<InlineShape> {
public:
    InlineShapeObject(float width, float height) : width_(width), height_(height) {}
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

class TDocumentServer::InlineShapesObject final : public TComObject<InlineShapes>,
                                                  TDocumentServerObject {
public:
    using TDocumentServerObject::TDocumentServerObject;

    HRESULT AddPicture(const WideString& FileName, TVariant*, TVariant*, TVariant* Range,
                       InlineShape** prop) override {
        Refuse(prop, S_OK);
        OpenDocument* d = nullptr;
        if (const HRESULT hr = server_->Active(&d); FAILED(hr)) {
            return hr;
        }
        if (Range != nullptr && !Range->IsMissing()) {
            return E_INVALIDARG;
        }
        // The word processor runs elsewhere: it gets the absolute path of a file that it can read.
        const QFileInfo file(FileName.ToQString());
        if (FileName.IsEmpty() || !file.isFile()) {
            return HRESULT_FILE_NOT_FOUND;
        }
        if (!file.isReadable()) {
            return E_ACCESSDENIED;
        }
        float width = 0;
        float height = 0;
        const HRESULT hr = server_->Noted(
            server_->InsertPicture(d->id, file.absoluteFilePath(), d->font, &width, &height));
        if (FAILED(hr)) {
            return hr;
        }
        return HandOut<InlineShape>(new InlineShapeObject(width, height), prop);
    }
};

class TDocumentServer::FontObject final : public TComObject<_Font>, TDocumentServerObject {
public:
    using TDocumentServerObject::TDocumentServerObject;

    HRESULT set_Bold(std::int32_t prop) override {
        OpenDocument* d = nullptr;
        if (const HRESULT hr = server_->Active(&d); FAILED(hr)) {
            return hr;
        }
        d->font.bold = prop != 0;
        return server_->Noted(server_->ApplyFont(d->id, d->font));
    }
    HRESULT set_Size(float prop) override {
        OpenDocument* d = nullptr;
        if (const HRESULT hr = server_->Active(&d); FAILED(hr)) {
            return hr;
        }
        if (!(prop >= 1.0f && prop <= 1638.0f)) {
            return E_INVALIDARG;
        }
        d->font.size = std::round(prop * 2.0f) / 2.0f;  // half points
        return server_->Noted(server_->ApplyFont(d->id, d->font));
    }
};

class TDocumentServer::SelectionObject final : public TComObject<Selection>, TDocumentServerObject {
public:
    using TDocumentServerObject::TDocumentServerObject;

    HRESULT get_Font(_Font** prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = server_->Active(&d);
        return FAILED(hr) ? Refuse(prop, hr) : HandOut<_Font>(new FontObject(server_), prop);
    }
    HRESULT TypeText(const WideString& Text) override {
        OpenDocument* d = nullptr;
        if (const HRESULT hr = server_->Active(&d); FAILED(hr)) {
            return hr;
        }
        const QString text = Text.ToQString();
        qsizetype start = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            const bool end = i == text.size();
            if (!end && text[i] != QLatin1Char('\r') && text[i] != QLatin1Char('\n')) {
                continue;
            }
            if (i > start) {
                const HRESULT hr =
                    server_->Noted(server_->InsertText(d->id, text.mid(start, i - start), d->font));
                if (FAILED(hr)) {
                    return hr;
                }
            }
            if (end) {
                break;
            }
            if (const HRESULT hr = server_->Noted(server_->InsertParagraphBreak(d->id, d->font));
                FAILED(hr)) {
                return hr;
            }
            if (text[i] == QLatin1Char('\r') && i + 1 < text.size() &&
                text[i + 1] == QLatin1Char('\n')) {
                ++i;
            }
            start = i + 1;
        }
        return S_OK;
    }
    HRESULT TypeParagraph() override {
        OpenDocument* d = nullptr;
        if (const HRESULT hr = server_->Active(&d); FAILED(hr)) {
            return hr;
        }
        return server_->Noted(server_->InsertParagraphBreak(d->id, d->font));
    }
    HRESULT get_InlineShapes(InlineShapes** prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = server_->Active(&d);
        return FAILED(hr) ? Refuse(prop, hr)
                          : HandOut<InlineShapes>(new InlineShapesObject(server_), prop);
    }
};

class TDocumentServer::DocumentObject final : public TComObject<_Document>, TDocumentServerObject {
public:
    DocumentObject(std::shared_ptr<TDocumentServer> server, std::shared_ptr<OpenDocument> document)
        : TDocumentServerObject(std::move(server)), document_(std::move(document)) {}

    HRESULT Close(TVariant* SaveChanges, TVariant*, TVariant*) override {
        if (const HRESULT hr = server_->Alive(); FAILED(hr)) {
            return hr;
        }
        if (!document_->open) {
            return DISP_E_EXCEPTION;
        }
        TVariant args[2] = {TVariant::Unknown(static_cast<_Document*>(this)),
                            TVariant::Bool(false)};
        server_->Fire(kEventDocumentBeforeClose, args);
        if (args[1].lVal != 0) {
            return E_ABORT;
        }
        const HRESULT hr = server_->Noted(
            server_->CloseDocument(document_->id, SaveChoice(SaveChanges), &document_->savedAs));
        if (FAILED(hr)) {
            return hr;
        }
        document_->open = false;
        std::erase(server_->documents_, document_);
        server_->Fire(kEventDocumentChange);
        return S_OK;
    }
    HRESULT get_FullName(WideString* prop) override {
        if (prop == nullptr) {
            return E_POINTER;
        }
        *prop = WideString(document_->savedAs);
        return S_OK;
    }

private:
    // Left out: as the word processor does for its user. False (0): drop the changes.
    static TSaveChoice SaveChoice(const TVariant* saveChanges) {
        if (saveChanges == nullptr || saveChanges->IsMissing()) {
            return TSaveChoice::kAsk;
        }
        const bool given = saveChanges->vt == VT_BOOL || saveChanges->vt == VT_I4;
        return given && saveChanges->lVal == 0 ? TSaveChoice::kDiscard : TSaveChoice::kSave;
    }

    std::shared_ptr<OpenDocument> document_;
};

class TDocumentServer::DocumentsObject final : public TComObject<Documents>, TDocumentServerObject {
public:
    using TDocumentServerObject::TDocumentServerObject;

    HRESULT Add(TVariant* Template, TVariant*, TVariant*, TVariant* Visible,
                _Document** prop) override {
        Refuse(prop, S_OK);
        if (const HRESULT hr = server_->Alive(); FAILED(hr)) {
            return hr;
        }
        // New documents start from the word processor's default; there are no templates here.
        if (Template != nullptr && !Template->IsMissing()) {
            return HRESULT_FILE_NOT_FOUND;
        }
        bool visible = server_->visible_;
        bool askedHidden = false;
        if (Visible != nullptr && !Visible->IsMissing()) {
            visible = Visible->lVal != 0;
            askedHidden = !visible;
        }
        auto document = std::make_shared<OpenDocument>();
        if (const HRESULT hr =
                server_->Noted(server_->NewDocument(visible, askedHidden, &document->id));
            FAILED(hr)) {
            return hr;
        }
        server_->documents_.push_back(document);
        TComInterface<_Document> added(new DocumentObject(server_, document));
        TVariant args[1] = {TVariant::Unknown(added.get())};
        server_->Fire(kEventNewDocument, args);
        server_->Fire(kEventDocumentChange);
        return HandOut<_Document>(added.get(), prop);
    }
};

class TDocumentServer::Application final
    : public TComObject<_Application, IConnectionPointContainer>,
      TDocumentServerObject {
public:
    using TDocumentServerObject::TDocumentServerObject;

    HRESULT set_Visible(TOLEBOOL prop) override {
        if (const HRESULT hr = server_->Alive(); FAILED(hr)) {
            return hr;
        }
        server_->visible_ = prop != 0;
        return server_->Noted(server_->ShowWindows(server_->visible_));
    }
    HRESULT get_Documents(Documents** prop) override {
        const HRESULT hr = server_->Alive();
        return FAILED(hr) ? Refuse(prop, hr)
                          : HandOut<Documents>(new DocumentsObject(server_), prop);
    }
    HRESULT get_Selection(Selection** prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = server_->Active(&d);
        return FAILED(hr) ? Refuse(prop, hr)
                          : HandOut<Selection>(new SelectionObject(server_), prop);
    }
    HRESULT get_ActiveDocument(_Document** prop) override {
        OpenDocument* d = nullptr;
        const HRESULT hr = server_->Active(&d);
        return FAILED(hr) ? Refuse(prop, hr)
                          : HandOut<_Document>(
                                new DocumentObject(server_, server_->documents_.back()), prop);
    }
    HRESULT Quit(TVariant*, TVariant*, TVariant*) override {
        if (const HRESULT hr = server_->Alive(); FAILED(hr)) {
            return hr;
        }
        // The registry's reference may be the last but this call's.
        const TComInterface<_Application> self(this);
        const HRESULT hr = server_->QuitApplication();
        server_->quit_ = true;
        for (const auto& document : server_->documents_) {
            document->open = false;
        }
        server_->documents_.clear();
        server_->Fire(kEventQuit);
        server_->Revoke();
        return hr == RPC_E_DISCONNECTED ? hr : S_OK;
    }

    HRESULT FindConnectionPoint(const GUID& iid, IConnectionPoint** point) override {
        if (iid != DIID_ApplicationEvents) {
            return Refuse(point, CONNECT_E_NOCONNECTION);
        }
        return HandOut<IConnectionPoint>(server_->events_, point);
    }
};

TDocumentServer::TDocumentServer() : events_(new TConnectionPoint) {
    events_->AddRef();
}

TDocumentServer::~TDocumentServer() {
    events_->Release();
}

HRESULT TDocumentServer::Publish(const std::shared_ptr<TDocumentServer>& server,
                                 TServerRegistry& registry, IUnknown** application) {
    if (application == nullptr) {
        return E_POINTER;
    }
    *application = nullptr;
    const TComInterface<_Application> created(new Application(server));
    server->registry_ = &registry;
    registry.RegisterActiveObject(CLSID_WordApplication, created.get(), &server->running_);
    return created.get()->QueryInterface(IUnknown::IID, reinterpret_cast<void**>(application));
}

HRESULT TDocumentServer::Alive() {
    if (quit_) {
        return RPC_E_DISCONNECTED;
    }
    if (!Reachable()) {
        Revoke();
        return RPC_E_DISCONNECTED;
    }
    return S_OK;
}

HRESULT TDocumentServer::Active(OpenDocument** document) {
    *document = nullptr;
    if (const HRESULT hr = Alive(); FAILED(hr)) {
        return hr;
    }
    if (documents_.empty()) {
        return DISP_E_EXCEPTION;
    }
    *document = documents_.back().get();
    return S_OK;
}

HRESULT TDocumentServer::Noted(HRESULT hr) {
    if (hr == RPC_E_DISCONNECTED) {
        Revoke();
    }
    return hr;
}

void TDocumentServer::Revoke() {
    if (running_ != 0 && registry_ != nullptr) {
        // May release the last reference to the application, and with it this server: nothing
        // of it is touched after the call.
        registry_->RevokeActiveObject(std::exchange(running_, 0));
    }
}

void TDocumentServer::Fire(int dispId, std::span<TVariant> params) {
    events_->Fire(dispId, params);
}

}  // namespace velmora
