#pragma once

// The word processor's object model written once for every document server that drives an
// outside word processor: the application, documents, document, selection, font and inline-shape
// objects with their checks, their events and the registration as a running instance. A server
// derives from TDocumentServer and supplies only what it does with its documents.
//
// What the objects do before a server is asked:
// - Selection, Font, InlineShapes and ActiveDocument act on the active document: the last one
//   added through this server and not closed through it (DISP_E_EXCEPTION when there is none).
// - The font at the selection is kept per document, and only what the caller has set (bold,
//   size) is handed to every insert, so that the server can set it again where the word
//   processor would let it drift.
// - TypeText is split at its line ends: a line feed, a carriage return or a CR LF pair ends the
//   paragraph, as typing does in a word processor.
// - AddPicture takes a file that exists and can be read, by its absolute path; pictures go to
//   the selection, so a Range is refused (E_INVALIDARG).
// - FullName is the file that Close saved the document in (empty before, or when it was not
//   saved); a closed document still answers it, so that a caller can tell where the report went.
// - Events: NewDocument and DocumentChange on Add, DocumentBeforeClose (whose Cancel argument
//   keeps the document open) and DocumentChange on Close, Quit on Quit.
//
// Lifecycle: Publish creates the application object, which holds the server, and registers it
// as running. Every object handed out holds the server, which lives as long as any of them.
// After Quit, or once the server reports that the word processor is out of reach, every call
// fails with RPC_E_DISCONNECTED (as calls to a word processor that has ended do) and the running
// registration is revoked, so that the next connection makes a new instance.
//
// Threads: everything runs on the thread that uses the objects (the report's thread in the
// program, see ReportThread.h); the objects are used from one thread at a time.

#include "report/ServerRegistry.h"

#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

class TConnectionPoint;

class TDocumentServer : public std::enable_shared_from_this<TDocumentServer> {
public:
    TDocumentServer();
    virtual ~TDocumentServer();
    TDocumentServer(const TDocumentServer&) = delete;
    TDocumentServer& operator=(const TDocumentServer&) = delete;

    // The application object of `server` (a new reference), registered as running in
    // `registry`, which must outlive it.
    static HRESULT Publish(const std::shared_ptr<TDocumentServer>& server,
                           TServerRegistry& registry, IUnknown** application);

protected:
    using DocumentId = std::uint32_t;

    // The font at the selection: only what the caller has set.
    struct TFont {
        std::optional<bool> bold;
        std::optional<float> size;  // points, in half points
    };

    // What closing a document does with unsaved changes.
    enum class TSaveChoice {
        kAsk,      // as the word processor does for its user
        kSave,     // save them
        kDiscard,  // drop them
    };

    // False once the word processor can no longer be reached.
    virtual bool Reachable() const = 0;
    virtual HRESULT ShowWindows(bool visible) = 0;
    // A new, empty document that the selection then stands in: `visible` as Add's Visible
    // argument says, else as the application is; `askedHidden` when Add's Visible was given as
    // false (a document the caller wants nobody to see).
    virtual HRESULT NewDocument(bool visible, bool askedHidden, DocumentId* document) = 0;
    virtual HRESULT ApplyFont(DocumentId document, const TFont& font) = 0;
    // Inserts at the selection and leaves it after what was inserted; `text` holds no line end.
    virtual HRESULT InsertText(DocumentId document, const QString& text, const TFont& font) = 0;
    virtual HRESULT InsertParagraphBreak(DocumentId document, const TFont& font) = 0;
    // `path` is absolute; the size of the picture comes back in points.
    virtual HRESULT InsertPicture(DocumentId document, const QString& path, const TFont& font,
                                  float* width, float* height) = 0;
    // After success the document is not used again; *savedAs is the file it was saved in, if it
    // was.
    virtual HRESULT CloseDocument(DocumentId document, TSaveChoice choice, QString* savedAs) = 0;
    virtual HRESULT QuitApplication() = 0;

private:
    // The object model, nested so that it reaches the state below (defined in the .cpp).
    class Application;
    class DocumentsObject;
    class DocumentObject;
    class SelectionObject;
    class FontObject;
    class InlineShapesObject;
    class InlineShapeObject;

    struct OpenDocument {
        DocumentId id = 0;
        TFont font;
        bool open = true;
        QString savedAs;  // by Close
    };

    // The active document, or a failure: RPC_E_DISCONNECTED when the word processor has ended
    // or is out of reach, DISP_E_EXCEPTION when no document is open.
    HRESULT Active(OpenDocument** document);
    // RPC_E_DISCONNECTED when the word processor has ended or is out of reach, else S_OK.
    HRESULT Alive();
    // Takes a backend's result: a lost connection ends the running registration.
    HRESULT Noted(HRESULT hr);
    void Revoke();
    void Fire(int dispId, std::span<TVariant> params = {});

    TServerRegistry* registry_ = nullptr;
    std::uint32_t running_ = 0;  // the registration as a running instance
    bool visible_ = false;
    bool quit_ = false;
    std::vector<std::shared_ptr<OpenDocument>> documents_;  // the last one is the active one
    TConnectionPoint* events_ = nullptr;                    // holds one reference
};

}  // namespace velmora
