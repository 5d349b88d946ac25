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

// Lifecycle: Open attaches or starts and connects; from then on calls go through Call until the
// object is destroyed, which closes the bridge and leaves the instance running. An instance that
// goes away (ended by its user, crashed, or ended by the watchdog), or whose connection the
// watchdog dropped, leaves the object unreachable for good.
//
// Threads: Open, Call and the destructor run on one thread. The bridge reports its end on a
// thread of its own, and the watchdog runs on its own thread.
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
    // Told when the instance was seen holding documents that were not made through this object
    // (the user's): the watchdog then never ends it.
    void NoteForeignDocuments() { state_->foreignDocuments = true; }

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

    // Shared with the bridge's listener and the watchdog, which may outlive a call.
    struct State {
        std::atomic<bool> gone{false};
        std::atomic<bool> foreignDocuments{false};
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
    // The watchdog's end for a hung call: the connection is dropped, which releases the call; an
    // instance started here that holds only documents made here is ended as well. One that holds
    // the user's documents (or is the user's) is left running.
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
