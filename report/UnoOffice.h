#pragma once

// One LibreOffice instance reached through UNO: the process-wide UNO environment, the instance
// on the pipe (attached to, or started and waited for), the bridge to it and the watchdog that
// keeps a hung instance from holding a call forever.

#include "report/LibreOfficeWriter.h"
#include "report/OleTypes.h"

#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

namespace css = com::sun::star;

// The folder of the UNO runtime this process has loaded: LibreOffice's program folder.
QString UnoRuntimeFolder();

// Who listens on a pipe: the process and its user.
struct TPipeListener {
    pid_t pid = 0;
    uid_t uid = 0;
};

// The listener on the LibreOffice pipe `name`, if any (a connection that is made and closed at
// once, without UNO).
bool FindPipeListener(const QString& name, TPipeListener* listener);

// Lifecycle: Open attaches or starts and connects; from then on calls go through Run until the
// object is destroyed, which closes the bridge and leaves the instance running. An instance that
// goes away (ended by its user, crashed, or ended by the watchdog), or whose connection the
// watchdog dropped, leaves the object unreachable for good.
//
// Threads: Open, Run and the destructor run on one thread (the report's). The bridge reports its
// end, and the instance its documents, on threads of the bridge; the watchdog runs on its own
// thread and asks the instance nothing.
class TUnoOffice {
public:
    // REGDB_E_CLASSNOTREG when LibreOffice or its UNO environment is not installed,
    // E_ACCESSDENIED when another user's process listens on the pipe, CO_E_SERVER_EXEC_FAILURE
    // when the instance does not start, does not accept in time or does not answer.
    static HRESULT Open(const TLibreOfficeOptions& options, std::unique_ptr<TUnoOffice>* office);
    ~TUnoOffice();
    TUnoOffice(const TUnoOffice&) = delete;
    TUnoOffice& operator=(const TUnoOffice&) = delete;

    // False once the bridge has ended or the instance's process has.
    bool Reachable() const;
    // The instance's component context and desktop.
    const css::uno::Reference<css::uno::XComponentContext>& Context() const { return context_; }
    const css::uno::Reference<css::frame::XDesktop2>& Desktop() const { return desktop_; }
    // The process that listens on the pipe.
    pid_t ProcessId() const { return listener_.pid; }
    // Whether the instance was started here (not the user's own, not one handed the pipe).
    bool StartedHere() const { return startedHere_; }
    // Whether it runs on a profile of the program's own (not the user's).
    bool OnPrivateProfile() const { return !options_.profileUrl.isEmpty(); }
    // Told of each document made through this object, as it is made (call under Run).
    void NoteOwnDocument(const css::uno::Reference<css::uno::XInterface>& document);
    // Whether every document the instance holds, as far as it has told, was made through this
    // object. Asks nothing of the instance, which may not answer.
    bool HoldsOnlyOwnDocuments() const;

    // Runs `call` (returning a result code) under the watchdog; an exception becomes a failing
    // code, RPC_E_DISCONNECTED once the instance is out of reach.
    template <class Call>
    HRESULT Run(Call&& call) {
        if (!Reachable()) {
            return RPC_E_DISCONNECTED;
        }
        const Watch watch(*this);
        try {
            return call();
        } catch (const css::lang::DisposedException& e) {
            return Failed(e, kDisposed);
        } catch (const css::lang::IllegalArgumentException& e) {
            return Failed(e, kIllegalArgument);
        } catch (const css::uno::Exception& e) {
            return Failed(e, kOther);
        }
    }

private:
    class Watchdog;
    class BridgeListener;

    class DocumentListener;

    // Shared with the listeners and the watchdog, which may outlive a call.
    struct State {
        std::atomic<bool> gone{false};
        // The documents the instance holds (seen at the connection, then as it reports each
        // document made, loaded or unloaded in it) and those made through this object, each as
        // its XInterface, which names a document for as long as it is held.
        mutable std::mutex mutex;
        std::vector<css::uno::Reference<css::uno::XInterface>> held;
        std::vector<css::uno::Reference<css::uno::XInterface>> own;
        bool unwatched = false;  // the instance could not be watched: it may hold anything
        void Hold(const css::uno::Reference<css::uno::XInterface>& document);
        void Release(const css::uno::Reference<css::uno::XInterface>& document);
    };

    // Arms the watchdog for the length of a call.
    class Watch {
    public:
        explicit Watch(TUnoOffice& office);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        TUnoOffice& office_;
    };

    TUnoOffice(const TLibreOfficeOptions& options, TPipeListener listener, bool startedHere);
    HRESULT Connect();
    enum ExceptionKind { kDisposed, kIllegalArgument, kOther };
    HRESULT Failed(const css::uno::Exception& e, ExceptionKind kind);
    // Watches the documents the instance holds: those it holds now, and from then on what it
    // reports of every document.
    void WatchDocuments();
    // The watchdog's end for a hung call: the connection is dropped, which releases the call. The
    // instance is ended only when it was started here, on a profile of the program's own, and
    // holds nothing but documents made here by what it told up to then; one that is the user's,
    // or may hold the user's work, is only let go.
    void Abandon();

    TLibreOfficeOptions options_;
    TPipeListener listener_;
    bool startedHere_ = false;
    int pidfd_ = -1;  // the listener, held so that a signal cannot reach another process
    std::shared_ptr<State> state_ = std::make_shared<State>();
    css::uno::Reference<css::bridge::XBridge> bridge_;
    css::uno::Reference<css::uno::XComponentContext> context_;
    css::uno::Reference<css::frame::XDesktop2> desktop_;
    std::unique_ptr<Watchdog> watchdog_;
};

}  // namespace velmora
