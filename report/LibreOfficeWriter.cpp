#include "LibreOfficeWriter.h"

#include "report/DocumentServer.h"
#include "report/LibreOfficeProfile.h"
#include "report/UnoOffice.h"
#include "report/Word_2K.h"

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XDispatch.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/graphic/GraphicProvider.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/text/ControlCharacter.hpp>
#include <com/sun/star/text/TextContentAnchorType.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/URLTransformer.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <osl/file.hxx>

#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include <unistd.h>

#include <cmath>
#include <map>

namespace velmora {
namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

// Pictures without a resolution of their own are shown at 96 pixels per inch, as in the
// built-in writer.
constexpr double kHundredthMmPerPixel = 2540.0 / 96.0;
constexpr float kPointsPerHundredthMm = 72.0f / 2540.0f;

rtl::OUString UnoText(const QString& text) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()),
                         sal_Int32(text.size()));
}

css::beans::PropertyValue Property(const char* name, const Any& value) {
    css::beans::PropertyValue property;
    property.Name = rtl::OUString::createFromAscii(name);
    property.Value = value;
    return property;
}

class TLibreOfficeWriter final : public TDocumentServer {
public:
    explicit TLibreOfficeWriter(std::unique_ptr<TUnoOffice> office) : office_(std::move(office)) {}

protected:
    bool Reachable() const override { return office_->Reachable(); }

    HRESULT ShowWindows(bool visible) override {
        return office_->Run([&] {
            for (const auto& [id, model] : documents_) {
                const Reference<css::awt::XWindow> window = Window(model);
                window->setVisible(visible);
                if (visible) {
                    Reference<css::awt::XTopWindow>(window, UNO_QUERY_THROW)->toFront();
                }
            }
            return S_OK;
        });
    }

    HRESULT NewDocument(bool visible, bool, DocumentId* document) override {
        return office_->Run([&] {
            const css::beans::PropertyValue hidden = Property("Hidden", Any(!visible));
            const Sequence<css::beans::PropertyValue> arguments(&hidden, 1);
            const Reference<css::frame::XModel> model(
                Reference<css::frame::XComponentLoader>(office_->Desktop(), UNO_QUERY_THROW)
                    ->loadComponentFromURL("private:factory/swriter", "_blank", 0, arguments),
                UNO_QUERY_THROW);
            office_->NoteOwnDocument(model);
            *document = nextId_++;
            documents_[*document] = model;
            // In front of the test console, so that the operator sees the report being written.
            if (visible) {
                const Reference<css::awt::XTopWindow> top(Window(model), UNO_QUERY);
                if (top.is()) {
                    top->toFront();
                }
            }
            return S_OK;
        });
    }

    HRESULT ApplyFont(DocumentId document, const TFont& font) override {
        return AtCursor(document, font, [](const Reference<css::text::XTextViewCursor>&) {});
    }

    HRESULT InsertText(DocumentId document, const QString& text, const TFont& font) override {
        return AtCursor(document, font, [&](const Reference<css::text::XTextViewCursor>& cursor) {
            cursor->getText()->insertString(Range(cursor), UnoText(text), false);
        });
    }

    HRESULT InsertParagraphBreak(DocumentId document, const TFont& font) override {
        return AtCursor(document, font, [](const Reference<css::text::XTextViewCursor>& cursor) {
            cursor->getText()->insertControlCharacter(
                Range(cursor), css::text::ControlCharacter::PARAGRAPH_BREAK, false);
        });
    }

    HRESULT InsertPicture(DocumentId document, const QString& path, const TFont& font, float* width,
                          float* height) override {
        rtl::OUString url;
        if (osl::FileBase::getFileURLFromSystemPath(UnoText(path), url) != osl::FileBase::E_None) {
            return HRESULT_FILE_NOT_FOUND;
        }
        Reference<css::graphic::XGraphic> graphic;
        const HRESULT read = office_->Run([&] {
            if (!graphics_.is()) {
                graphics_ = css::graphic::GraphicProvider::create(office_->Context());
            }
            const css::beans::PropertyValue location = Property("URL", Any(url));
            const Sequence<css::beans::PropertyValue> source(&location, 1);
            graphic = graphics_->queryGraphic(source);
            return S_OK;
        });
        if (FAILED(read)) {
            return read == RPC_E_DISCONNECTED ? read : WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
        }
        // LibreOffice reads what it cannot decode as no picture: it would leave an empty frame.
        if (!graphic.is()) {
            return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
        }
        css::awt::Size size;
        HRESULT hr = office_->Run([&] {
            const Reference<css::beans::XPropertySet> properties(graphic, UNO_QUERY_THROW);
            properties->getPropertyValue("Size100thMM") >>= size;
            if (size.Width <= 0 || size.Height <= 0) {
                css::awt::Size pixels;
                properties->getPropertyValue("SizePixel") >>= pixels;
                size.Width = sal_Int32(std::lround(pixels.Width * kHundredthMmPerPixel));
                size.Height = sal_Int32(std::lround(pixels.Height * kHundredthMmPerPixel));
            }
            return S_OK;
        });
        if (FAILED(hr)) {
            return hr;
        }
        hr = AtCursor(document, font, [&](const Reference<css::text::XTextViewCursor>& cursor) {
            const Reference<css::frame::XModel>& model = documents_.at(document);
            const Reference<css::text::XTextContent> picture(
                Reference<css::lang::XMultiServiceFactory>(model, UNO_QUERY_THROW)
                    ->createInstance("com.sun.star.text.TextGraphicObject"),
                UNO_QUERY_THROW);
            const Reference<css::beans::XPropertySet> properties(picture, UNO_QUERY_THROW);
            properties->setPropertyValue("AnchorType",
                                         Any(css::text::TextContentAnchorType_AS_CHARACTER));
            properties->setPropertyValue("Graphic", Any(graphic));
            properties->setPropertyValue("Size", Any(size));
            cursor->getText()->insertTextContent(Range(cursor), picture, false);
        });
        if (SUCCEEDED(hr)) {
            *width = float(size.Width) * kPointsPerHundredthMm;
            *height = float(size.Height) * kPointsPerHundredthMm;
        }
        return hr;
    }

    HRESULT CloseDocument(DocumentId document, TSaveChoice choice, QString* savedAs) override {
        const auto it = documents_.find(document);
        if (it == documents_.end()) {
            return DISP_E_EXCEPTION;
        }
        const Reference<css::frame::XModel> model = it->second;
        const HRESULT hr = office_->Run([&] {
            if (choice == TSaveChoice::kSave) {
                const Reference<css::frame::XStorable> storable(model, UNO_QUERY_THROW);
                if (storable->hasLocation()) {
                    storable->store();
                    choice = TSaveChoice::kDiscard;
                    rtl::OUString path;
                    if (osl::FileBase::getSystemPathFromFileURL(storable->getLocation(), path) ==
                        osl::FileBase::E_None) {
                        *savedAs = QString(reinterpret_cast<const QChar*>(path.getStr()),
                                           path.getLength());
                    }
                }
            }
            if (choice == TSaveChoice::kDiscard) {
                Reference<css::util::XModifiable>(model, UNO_QUERY_THROW)->setModified(false);
                Reference<css::util::XCloseable>(model, UNO_QUERY_THROW)->close(true);
            } else {
                // Writer asks its user, who may take any time to answer: not waited for.
                Dispatch(Reference<css::frame::XDispatchProvider>(
                             model->getCurrentController()->getFrame(), UNO_QUERY_THROW),
                         ".uno:CloseDoc");
            }
            return S_OK;
        });
        if (SUCCEEDED(hr) || hr == RPC_E_DISCONNECTED) {
            // Never touched again: a cursor of a closed document can bring Writer down.
            documents_.erase(document);
        }
        return hr;
    }

    HRESULT QuitApplication() override {
        documents_.clear();
        graphics_.clear();
        // As when the user ends LibreOffice: it asks about unsaved documents, not waited for.
        return office_->Run([&] {
            Dispatch(Reference<css::frame::XDispatchProvider>(office_->Desktop(), UNO_QUERY_THROW),
                     ".uno:Quit");
            return S_OK;
        });
    }

private:
    static Reference<css::text::XTextRange> Range(
        const Reference<css::text::XTextViewCursor>& cursor) {
        return Reference<css::text::XTextRange>(cursor.get());
    }

    static Reference<css::awt::XWindow> Window(const Reference<css::frame::XModel>& model) {
        return model->getCurrentController()->getFrame()->getContainerWindow();
    }

    // Runs `act` at the document's view cursor, fetched afresh, after setting the font there.
    template <class Act>
    HRESULT AtCursor(DocumentId document, const TFont& font, Act&& act) {
        const auto it = documents_.find(document);
        if (it == documents_.end()) {
            return DISP_E_EXCEPTION;
        }
        const Reference<css::frame::XModel> model = it->second;
        return office_->Run([&] {
            const Reference<css::text::XTextViewCursor> cursor =
                Reference<css::text::XTextViewCursorSupplier>(model->getCurrentController(),
                                                              UNO_QUERY_THROW)
                    ->getViewCursor();
            if (!cursor.is()) {
                return DISP_E_EXCEPTION;
            }
            SetFont(cursor, font);
            act(cursor);
            return S_OK;
        });
    }

    static void SetFont(const Reference<css::text::XTextViewCursor>& cursor, const TFont& font) {
        if (!font.size && !font.bold) {
            return;
        }
        const Reference<css::beans::XPropertySet> properties(cursor, UNO_QUERY_THROW);
        if (font.size) {
            properties->setPropertyValue("CharHeight", Any(*font.size));
        }
        if (font.bold) {
            properties->setPropertyValue(
                "CharWeight",
                Any(*font.bold ? css::awt::FontWeight::BOLD : css::awt::FontWeight::NORMAL));
        }
    }

    // Dispatches a command as a menu entry would, without waiting for what it asks the user.
    void Dispatch(const Reference<css::frame::XDispatchProvider>& provider, const char* command) {
        css::util::URL url;
        url.Complete = rtl::OUString::createFromAscii(command);
        css::util::URLTransformer::create(office_->Context())->parseStrict(url);
        const Reference<css::frame::XDispatch> dispatch = provider->queryDispatch(url, "", 0);
        if (!dispatch.is()) {
            throw css::uno::RuntimeException("no dispatch for " + url.Complete);
        }
        const css::beans::PropertyValue asynchronous = Property("SynchronMode", Any(false));
        const Sequence<css::beans::PropertyValue> arguments(&asynchronous, 1);
        dispatch->dispatch(url, arguments);
    }

    std::unique_ptr<TUnoOffice> office_;  // first: the references below go before the bridge
    std::map<DocumentId, Reference<css::frame::XModel>> documents_;
    DocumentId nextId_ = 1;
    Reference<css::graphic::XGraphicProvider> graphics_;
};

}  // namespace

TLibreOfficeOptions DefaultLibreOfficeOptions() {
    TLibreOfficeOptions options;
    options.program = QDir(UnoRuntimeFolder()).filePath(QStringLiteral("soffice"));
    // The user's own profile (none given): a LibreOffice the user runs takes the report, and one
    // started for it is the user's as well. Where that profile cannot be used, one of the
    // program's own.
    QString profile = UserLibreOfficeProfile();
    if (!ProfileUsable(profile)) {
        profile = PrivateLibreOfficeProfile();
        options.profileUrl = QUrl::fromLocalFile(profile).toString(QUrl::FullyEncoded);
    }
    options.pipeName = LibreOfficePipeName(profile);
    return options;
}

TServerFactory LibreOfficeWriterFactory(TServerRegistry& registry, TLibreOfficeOptions options) {
    return [&registry, options](IUnknown** server) -> HRESULT {
        std::unique_ptr<TUnoOffice> office;
        if (const HRESULT hr = TUnoOffice::Open(options, &office); FAILED(hr)) {
            return hr;
        }
        return TDocumentServer::Publish(std::make_shared<TLibreOfficeWriter>(std::move(office)),
                                        registry, server);
    };
}

std::uint32_t RegisterLibreOfficeWriter(TServerRegistry& registry, TLibreOfficeOptions options) {
    return registry.RegisterFactory(Word_2k::CLSID_WordApplication,
                                    QString::fromLatin1(Word_2k::kWordProgId),
                                    LibreOfficeWriterFactory(registry, std::move(options)));
}

}  // namespace velmora
