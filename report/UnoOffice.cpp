#include "UnoOffice.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>

#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace velmora {

Q_LOGGING_CATEGORY(lcUnoOffice, "velmora.report.libreoffice")

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

QString Text(const rtl::OUString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getStr()), text.getLength());
}

rtl::OUString UnoText(const QString& text) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()),
                         sal_Int32(text.size()));
}

// A file descriptor, closed with its owner.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A descriptor that names one process for as long as it is open, whatever pid it had.
int OpenProcess(pid_t pid) {
    return pid > 0 ? int(::syscall(SYS_pidfd_open, pid, 0)) : -1;
}

bool ProcessEnded(int pidfd) {
    pollfd ended{pidfd, POLLIN, 0};
    return pidfd >= 0 && ::poll(&ended, 1, 0) == 1;
}

// Where LibreOffice's pipes are: its runtime library puts them in /tmp, or /var/tmp where /tmp
// cannot be written, named after the user's id.
std::string PipePath(const QString& name) {
    const char* const folder = ::access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp";
    return std::string(folder) + "/OSL_PIPE_" + std::to_string(::getuid()) + "_" +
           name.toStdString();
}

// The UNO environment of this process, made on first use and kept to the end of the process:
// bridges may still report on their threads while the program ends.
HRESULT LocalContext(Reference<css::uno::XComponentContext>* context) {
    static std::mutex mutex;
    static Reference<css::uno::XComponentContext>* local = nullptr;
    const std::lock_guard lock(mutex);
    if (local == nullptr) {
        try {
            rtl::Bootstrap::set(
                "URE_BOOTSTRAP",
                UnoText(QStringLiteral("vnd.sun.star.pathname:") +
                        QDir(UnoRuntimeFolder()).filePath(QStringLiteral("fundamentalrc"))));
            local = new Reference<css::uno::XComponentContext>(
                cppu::defaultBootstrap_InitialComponentContext());
        } catch (const cppu::BootstrapException& e) {
            qCInfo(lcUnoOffice) << "no UNO environment:" << Text(e.getMessage());
            return REGDB_E_CLASSNOTREG;
        } catch (const css::uno::Exception& e) {
            qCInfo(lcUnoOffice) << "no UNO environment:" << Text(e.Message);
            return REGDB_E_CLASSNOTREG;
        }
    }
    *context = *local;
    return S_OK;
}

// How long a running instance may take to open the pipe it was handed.
constexpr std::chrono::seconds kHandOverTime{10};

// Starts soffice on the pipe and waits until it listens there. The user interface thread keeps
// painting meanwhile; input waits, so that no second report starts inside this one.
HRESULT StartInstance(const TLibreOfficeOptions& options, TPipeListener* listener,
                      bool* startedHere) {
    const QFileInfo program(options.program);
    if (options.program.isEmpty() || !program.isFile() || !program.isExecutable()) {
        qCInfo(lcUnoOffice) << "LibreOffice is not installed:" << options.program;
        return REGDB_E_CLASSNOTREG;
    }
    // A LibreOffice built without a user interface (Debian's -nogui packages), or one without a
    // display to show it on, would take the report where nobody sees it.
    if (!options.arguments.contains(QStringLiteral("--headless"))) {
        const bool windows =
            !program.dir().entryList({QStringLiteral("libvclplug_*")}, QDir::Files).isEmpty();
        const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                             !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
        if (!windows || !display) {
            qCInfo(lcUnoOffice) << "LibreOffice cannot show a window here:"
                                << (windows ? "no display" : "installed without a user interface");
            return REGDB_E_CLASSNOTREG;
        }
    }
    QProcess process;
    process.setProgram(options.program);
    // With the user's own profile (none given): where the user's LibreOffice runs already, the
    // new process hands it the pipe and ends, and the user's instance takes the report.
    QStringList arguments;
    if (!options.profileUrl.isEmpty()) {
        arguments << QStringLiteral("-env:UserInstallation=") + options.profileUrl;
    }
    arguments << QStringLiteral("--accept=pipe,name=") + options.pipeName +
                     QStringLiteral(";urp;StarOffice.ComponentContext")
              << QStringLiteral("--norestore") << QStringLiteral("--nologo")
              << QStringLiteral("--nodefault");
    process.setArguments(arguments + options.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        qCWarning(lcUnoOffice) << "LibreOffice does not start:" << process.errorString();
        return CO_E_SERVER_EXEC_FAILURE;
    }
    // Started in a session of its own, whose group holds the launcher and the office.
    const pid_t group = ::getpgid(pid_t(pid));
    const Descriptor started(OpenProcess(pid_t(pid)));
    bool ended = started.get() < 0;
    const auto deadline = std::chrono::steady_clock::now() + options.startTimeout;
    // A launcher that handed the pipe to a running instance ends at once; that instance then
    // opens the pipe a moment later.
    std::optional<std::chrono::steady_clock::time_point> endedAt;
    for (;;) {
        if (FindPipeListener(options.pipeName, listener)) {
            *startedHere = group > 0 && ::getpgid(listener->pid) == group;
            return S_OK;
        }
        if (ended && !endedAt) {
            endedAt = std::chrono::steady_clock::now();
        }
        if (std::chrono::steady_clock::now() >= deadline ||
            (endedAt && std::chrono::steady_clock::now() - *endedAt > kHandOverTime)) {
            break;
        }
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        if (ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else {
            pollfd exited{started.get(), POLLIN, 0};
            ended = ::poll(&exited, 1, 50) == 1;
        }
    }
    qCWarning(lcUnoOffice) << "LibreOffice did not accept on pipe" << options.pipeName
                           << (ended ? "and ended" : "in time");
    if (!ended && group > 0 && group != ::getpgrp()) {
        ::kill(-group, SIGKILL);  // nothing of it stays behind
    }
    return CO_E_SERVER_EXEC_FAILURE;
}

}  // namespace

bool FindPipeListener(const QString& name, TPipeListener* listener) {
    const std::string path = PipePath(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 || ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                                      sizeof(address)) != 0) {
        return false;
    }
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0) {
        return false;
    }
    listener->pid = peer.pid;
    listener->uid = peer.uid;
    return true;
}

QString UnoRuntimeFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&rtl_bootstrap_set), &info) == 0 ||
        info.dli_fname == nullptr) {
        return QString();
    }
    return QFileInfo(QFile::decodeName(info.dli_fname)).canonicalPath();
}

// Waits for the deadline of the call in progress and, when it passes, abandons the instance.
class TUnoOffice::Watchdog {
public:
    explicit Watchdog(TUnoOffice& office) : office_(office), thread_([this] { Run(); }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void Arm(std::chrono::milliseconds timeout) {
        {
            const std::lock_guard lock(mutex_);
            deadline_ = std::chrono::steady_clock::now() + timeout;
        }
        changed_.notify_all();
    }
    void Disarm() {
        {
            const std::lock_guard lock(mutex_);
            deadline_.reset();
        }
        changed_.notify_all();
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (!deadline_) {
                changed_.wait(lock);
                continue;
            }
            const auto deadline = *deadline_;
            if (std::chrono::steady_clock::now() < deadline) {
                changed_.wait_until(lock, deadline);
                continue;
            }
            deadline_.reset();
            lock.unlock();
            office_.Abandon();
            lock.lock();
        }
    }

    TUnoOffice& office_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once the rest is there
};

// Told by the bridge when it ends: the instance went away or the connection broke.
class TUnoOffice::BridgeListener final : public cppu::WeakImplHelper1<css::lang::XEventListener> {
public:
    explicit BridgeListener(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void SAL_CALL disposing(const css::lang::EventObject&) override { state_->gone = true; }

private:
    std::shared_ptr<State> state_;
};

TUnoOffice::Watch::Watch(TUnoOffice& office) : office_(office) {
    office_.watchdog_->Arm(office_.options_.callTimeout);
}

TUnoOffice::Watch::~Watch() {
    office_.watchdog_->Disarm();
}

HRESULT TUnoOffice::Open(const TLibreOfficeOptions& options, std::unique_ptr<TUnoOffice>* office) {
    office->reset();
    Reference<css::uno::XComponentContext> local;
    if (const HRESULT hr = LocalContext(&local); FAILED(hr)) {
        return hr;
    }
    TPipeListener listener;
    bool startedHere = false;
    if (!FindPipeListener(options.pipeName, &listener)) {
        if (const HRESULT hr = StartInstance(options, &listener, &startedHere); FAILED(hr)) {
            return hr;
        }
    }
    if (listener.uid != ::getuid()) {
        qCWarning(lcUnoOffice) << "pipe" << options.pipeName << "belongs to another user";
        return E_ACCESSDENIED;
    }
    std::unique_ptr<TUnoOffice> opened(new TUnoOffice(options, listener, startedHere));
    try {
        const Reference<css::connection::XConnection> connection =
            css::connection::Connector::create(local)->connect(
                UnoText(QStringLiteral("pipe,name=") + options.pipeName));
        opened->bridge_ = css::bridge::BridgeFactory::create(local)->createBridge(
            rtl::OUString(), "urp", connection, nullptr);
        Reference<css::lang::XComponent>(opened->bridge_, UNO_QUERY_THROW)
            ->addEventListener(new BridgeListener(opened->state_));
    } catch (const css::uno::Exception& e) {
        qCWarning(lcUnoOffice) << "no connection to LibreOffice:" << Text(e.Message);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    const HRESULT hr = opened->Run([&] {
        TUnoOffice& o = *opened;
        o.context_.set(o.bridge_->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        o.desktop_ = css::frame::Desktop::create(o.context_);
        return S_OK;
    });
    if (FAILED(hr)) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    *office = std::move(opened);
    return S_OK;
}

TUnoOffice::TUnoOffice(const TLibreOfficeOptions& options, TPipeListener listener, bool startedHere)
    : options_(options),
      listener_(listener),
      startedHere_(startedHere),
      pidfd_(OpenProcess(listener.pid)),
      watchdog_(std::make_unique<Watchdog>(*this)) {}

TUnoOffice::~TUnoOffice() {
    watchdog_.reset();  // nothing is abandoned while the connection is taken down
    desktop_.clear();
    context_.clear();
    if (bridge_.is()) {
        try {
            Reference<css::lang::XComponent>(bridge_, UNO_QUERY_THROW)->dispose();
        } catch (const css::uno::Exception&) {
            // Gone already.
        }
    }
    bridge_.clear();
    if (pidfd_ >= 0) {
        ::close(pidfd_);
    }
}

bool TUnoOffice::Reachable() const {
    // The process is asked too: the bridge learns of its end only on its own thread, later.
    if (!state_->gone && ProcessEnded(pidfd_)) {
        state_->gone = true;
    }
    return !state_->gone;
}

HRESULT TUnoOffice::Failed(const css::uno::Exception& e, ExceptionKind kind) {
    // The bridge names itself when it ends during a call; a closed document names the document.
    const bool bridgeEnded = kind == kDisposed && e.Context.is() && e.Context == bridge_;
    if (!Reachable() || ProcessEnded(pidfd_) || bridgeEnded) {
        state_->gone = true;
        qCWarning(lcUnoOffice) << "LibreOffice has gone away:" << Text(e.Message);
        return RPC_E_DISCONNECTED;
    }
    qCWarning(lcUnoOffice) << "LibreOffice:" << Text(e.Message);
    return kind == kIllegalArgument ? E_INVALIDARG : DISP_E_EXCEPTION;
}

void TUnoOffice::Abandon() {
    // Never at the cost of the user's unsaved work: an instance that is the user's, or holds a
    // document of the user's, is only let go.
    const bool end = startedHere_ && !state_->foreignDocuments;
    qCWarning(lcUnoOffice) << "LibreOffice" << listener_.pid << "does not answer within"
                           << options_.callTimeout.count() << "ms;"
                           << (end ? "ending it" : "leaving it, with the user's documents");
    state_->gone = true;
    if (end && pidfd_ >= 0) {
        ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
    }
    try {
        Reference<css::lang::XComponent>(bridge_, UNO_QUERY_THROW)->dispose();
    } catch (const css::uno::Exception&) {
        // Gone already.
    }
}

}  // namespace velmora
