#include "UnoOffice.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/theGlobalEventBroadcaster.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

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
#include <cstdio>
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

// The socket inodes of a process's open descriptors.
std::vector<unsigned long> SocketsOf(pid_t pid) {
    std::vector<unsigned long> sockets;
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd :
         QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray link = QFile::encodeName(folder + QLatin1Char('/') + fd);
        const ssize_t length = ::readlink(link.constData(), target, sizeof(target) - 1);
        unsigned long inode = 0;
        if (length > 0 && std::sscanf(target, "socket:[%lu]", &inode) == 1) {
            sockets.push_back(inode);
        }
    }
    return sockets;
}

// Whether another program is connected to one of the sockets a process listens on (an office
// handed a document by the desktop, a client of its pipe): such a connection is one of the
// process's sockets that carries the address of the socket it was accepted on, while the
// process's own connections to others carry none.
bool AnotherProgramConnected(pid_t pid) {
    const std::vector<unsigned long> sockets = SocketsOf(pid);
    QFile table(QStringLiteral("/proc/net/unix"));
    if (sockets.empty() || !table.open(QIODevice::ReadOnly)) {
        return false;
    }
    table.readLine();  // the heading
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        // Num RefCount Protocol Flags Type St Inode Path
        const QList<QByteArray> fields = line.simplified().split(' ');
        const bool connected = fields.size() >= 8 && fields[5] == "03";
        if (connected &&
            std::find(sockets.begin(), sockets.end(), fields[6].toULong()) != sockets.end()) {
            return true;
        }
    }
    return false;
}

// The office a launcher started: its child, else the launcher itself.
pid_t OfficeOf(pid_t launcher) {
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(launcher));
    if (children.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> pids = children.readAll().simplified().split(' ');
        if (!pids.isEmpty() && pids.first().toInt() > 0) {
            return pid_t(pids.first().toInt());
        }
    }
    return launcher;
}

// Starts soffice on the pipe and waits until it listens there (on the report's thread: the window
// goes on meanwhile).
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
    // Started in a session of its own, whose group holds the launcher and the office (and what
    // the office starts in turn, which is not this program's).
    const pid_t group = ::getpgid(pid_t(pid));
    const Descriptor started(OpenProcess(pid_t(pid)));
    bool ended = started.get() < 0;
    const auto deadline = std::chrono::steady_clock::now() + options.startTimeout;
    // A launcher that handed the pipe to a running instance ends at once; that instance then
    // opens the pipe a moment later.
    std::optional<std::chrono::steady_clock::time_point> endedAt;
    // Whether another program connected to the office meanwhile: it may have handed the office
    // a document of the user's.
    bool othersConnected = false;
    for (;;) {
        if (FindPipeListener(options.pipeName, listener)) {
            *startedHere = group > 0 && ::getpgid(listener->pid) == group;
            return S_OK;
        }
        if (!ended) {
            othersConnected = othersConnected || AnotherProgramConnected(OfficeOf(pid_t(pid)));
        }
        if (ended && !endedAt) {
            endedAt = std::chrono::steady_clock::now();
        }
        if (std::chrono::steady_clock::now() >= deadline ||
            (endedAt && std::chrono::steady_clock::now() - *endedAt > kHandOverTime)) {
            break;
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
    // Only the office started here, and only while nobody else has had a word with it.
    const pid_t officePid = OfficeOf(pid_t(pid));
    if (!ended && !othersConnected && !AnotherProgramConnected(officePid)) {
        const Descriptor office(OpenProcess(officePid));
        ::syscall(SYS_pidfd_send_signal, office.get(), SIGKILL, nullptr, 0);
        // Its launcher ends with it; one that does not is ended as well.
        pollfd exited{started.get(), POLLIN, 0};
        if (officePid != pid_t(pid) && ::poll(&exited, 1, 1000) == 0) {
            ::syscall(SYS_pidfd_send_signal, started.get(), SIGKILL, nullptr, 0);
        }
    } else if (!ended) {
        qCWarning(lcUnoOffice) << "LibreOffice left running: another program is connected to it";
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

// Told by the instance of every document event: a document made or loaded there is held, one
// unloaded is not any more.
class TUnoOffice::DocumentListener final
    : public cppu::WeakImplHelper1<css::document::XDocumentEventListener> {
public:
    explicit DocumentListener(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void SAL_CALL documentEventOccured(const css::document::DocumentEvent& event) override {
        if (event.EventName == "OnUnload") {
            state_->Release(event.Source);
        } else {
            state_->Hold(event.Source);
        }
    }
    void SAL_CALL disposing(const css::lang::EventObject&) override {}

private:
    std::shared_ptr<State> state_;
};

void TUnoOffice::State::Hold(const Reference<css::uno::XInterface>& document) {
    const Reference<css::uno::XInterface> held(document, UNO_QUERY);
    const std::lock_guard lock(mutex);
    if (held.is() && std::find_if(this->held.begin(), this->held.end(), [&](const auto& d) {
                         return d.get() == held.get();
                     }) == this->held.end()) {
        this->held.push_back(held);
    }
}

void TUnoOffice::State::Release(const Reference<css::uno::XInterface>& document) {
    const Reference<css::uno::XInterface> released(document, UNO_QUERY);
    const std::lock_guard lock(mutex);
    std::erase_if(held, [&](const auto& d) { return d.get() == released.get(); });
}

void TUnoOffice::NoteOwnDocument(const Reference<css::uno::XInterface>& document) {
    const Reference<css::uno::XInterface> own(document, UNO_QUERY);
    state_->Hold(own);
    const std::lock_guard lock(state_->mutex);
    state_->own.push_back(own);
}

bool TUnoOffice::HoldsOnlyOwnDocuments() const {
    const std::lock_guard lock(state_->mutex);
    return !state_->unwatched &&
           std::all_of(state_->held.begin(), state_->held.end(), [&](const auto& held) {
               return std::any_of(state_->own.begin(), state_->own.end(),
                                  [&](const auto& own) { return own.get() == held.get(); });
           });
}

void TUnoOffice::WatchDocuments() {
    // From now on every document event, then what it holds already: a document made between
    // the two is seen twice, which is no harm. An instance that cannot be watched may hold
    // anything.
    try {
        Reference<css::document::XDocumentEventBroadcaster>(
            css::frame::theGlobalEventBroadcaster::get(context_), UNO_QUERY_THROW)
            ->addDocumentEventListener(new DocumentListener(state_));
        const Reference<css::container::XEnumeration> components =
            desktop_->getComponents()->createEnumeration();
        while (components->hasMoreElements()) {
            Reference<css::uno::XInterface> document;
            components->nextElement() >>= document;
            state_->Hold(document);
        }
    } catch (const css::lang::DisposedException&) {
        throw;  // gone: the connection fails
    } catch (const css::uno::Exception& e) {
        qCWarning(lcUnoOffice) << "LibreOffice's documents cannot be watched:" << Text(e.Message);
        const std::lock_guard lock(state_->mutex);
        state_->unwatched = true;
    }
}

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
        o.WatchDocuments();
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
    // Never at the cost of the user's unsaved work: an instance on the user's profile is the
    // user's LibreOffice (the desktop opens the user's files in it), and one that holds a document
    // not made here may hold the user's work; both are only let go. What it holds is known from
    // what it told while it answered: a hung instance cannot be asked.
    const bool end = startedHere_ && OnPrivateProfile() && HoldsOnlyOwnDocuments();
    qCWarning(lcUnoOffice) << "LibreOffice" << listener_.pid << "does not answer within"
                           << options_.callTimeout.count() << "ms;"
                           << (end ? "ending it" : "letting it go, it may hold the user's work");
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
