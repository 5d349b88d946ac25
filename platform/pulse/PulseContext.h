#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The library's types, declared so that owners of a PulseContext need not see its headers.
struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

namespace velmora {

// Locks the threaded main loop. Used only through std::unique_lock or std::lock_guard, and never
// from the loop's own thread (callbacks already run with the loop locked).
class PulseLoopLock {
public:
    explicit PulseLoopLock(pa_threaded_mainloop* loop) : loop_(loop) {}
    void lock();
    void unlock();

private:
    pa_threaded_mainloop* loop_;
};

// One connection to a PulseAudio server: the threaded main loop and the context on it.
//
// Lifecycle: created by whoever owns the sound and mixer backends, before them, and destroyed
// after them; the backends keep a reference. The loop thread runs from construction to
// destruction. A connection is started at construction without waiting for it.
//
// A context made to open when asked (Opening::WhenAsked) does not touch the server before Open():
// until then every call behaves as without a server, without waiting for one (the program's
// window is built and painted first; its first sound opens the connection).
//
// A server that is absent or goes away is not an error of this class: Connect() reports false,
// and the next Connect() after the server has come back makes a new context. No call waits
// longer than a short timeout, so a hung server costs a caller at most that long.
//
// Threads: all public calls come from one thread (the user interface thread). Library callbacks
// run on the loop thread with the loop locked; they copy what they need and call Signal().
class PulseContext {
public:
    enum class Opening { AtOnce, WhenAsked };

    // `server` empty means the default server (PULSE_SERVER, the client configuration). The
    // client tells the server its name and icon, so that mixers and session managers show it.
    explicit PulseContext(std::string server = {}, std::string appName = "Velmora",
                          Opening opening = Opening::AtOnce);
    ~PulseContext();

    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Longest wait of a connection attempt and of one server request.
    static constexpr std::chrono::milliseconds kConnectTimeout{500};
    static constexpr std::chrono::milliseconds kRequestTimeout{500};

    // Opens a context made to open when asked, and starts connecting; nothing after the first
    // time. Loop locked.
    void OpenLocked();
    bool Opened() const { return opened_; }

    // Makes sure the context is connected; connects anew when the server went away. False when
    // no server answered within kConnectTimeout, or before the context was opened.
    bool Connect();

    // Without waiting: starts a connection when there is none and none is under way, and says
    // whether the context is ready. An attempt that has not come through within
    // kConnectTimeout is dropped, so a hung server is tried again later. Loop locked.
    bool PollConnectLocked();

    // --- For the backends (the files that include the library's headers). ---

    PulseLoopLock& Loop() { return lock_; }

    // As Connect(), with the loop already locked by `lock`.
    bool ConnectLocked(std::unique_lock<PulseLoopLock>& lock);

    // True while the current context is ready (loop locked).
    bool IsReady() const;

    // The context, to whoever makes a request or a stream on it: `use` runs only while the
    // context is ready, so nothing ever reaches a connection that was dropped (after a wait that
    // gave up on the server, say). False, without running `use`, when there is no such context.
    // Loop locked.
    template <typename Use>
    bool WithContext(Use&& use) {
        if (!IsReady()) {
            return false;
        }
        use(context_.get());
        return true;
    }

    // A request made by `start` on the ready context and waited for as RunOperation does; false
    // without a ready context.
    bool Request(std::unique_lock<PulseLoopLock>& lock,
                 const std::function<pa_operation*(pa_context*)>& start,
                 std::chrono::milliseconds timeout = kRequestTimeout);

    // A set (volume, mute, port, cork) made by `start` on the ready context with the reply
    // callback and its data it is given, and waited for as RunSet does.
    using SuccessCallback = void (*)(pa_context*, int, void*);
    bool Set(std::unique_lock<PulseLoopLock>& lock,
             const std::function<pa_operation*(pa_context*, SuccessCallback, void*)>& start,
             std::chrono::milliseconds timeout = kRequestTimeout);

    // Counts the connections made; a backend compares it to notice that its objects belong to a
    // context that is gone.
    std::uint64_t Generation() const { return generation_; }

    // Waits, with the loop unlocked, until `done` (evaluated with the loop locked) is true.
    // False when `timeout` passed first.
    bool Wait(std::unique_lock<PulseLoopLock>& lock, const std::function<bool()>& done,
              std::chrono::milliseconds timeout);

    // Waits for an operation started with the loop locked; cancels it on timeout, so that its
    // callback is not called afterwards. Takes ownership of `op`; true when it completed.
    bool RunOperation(std::unique_lock<PulseLoopLock>& lock, pa_operation* op,
                      std::chrono::milliseconds timeout = kRequestTimeout);

    // The reply to a set (volume, mute, port): pass OnSetReply with a SetReply of the caller's
    // as the callback and its data when starting the set, then RunSet.
    struct SetReply {
        PulseContext* pulse = nullptr;
        int success = -1;  // the server's word, -1 before it came
    };
    static void OnSetReply(pa_context* context, int success, void* reply);
    // As RunOperation for a set: true only when the server answered in time and took the set
    // (a set it refuses, say of an object that is gone or of a value it does not accept, fails).
    bool RunSet(std::unique_lock<PulseLoopLock>& lock, pa_operation* op, const SetReply& reply,
                std::chrono::milliseconds timeout = kRequestTimeout);

    // The server did not answer in time: drops the context (its streams fail with it, and the
    // requests under way on it are cancelled) and makes Connect() fail at once for a short
    // pause, so that a hung server does not hold every call for a timeout. Loop locked.
    void Abandon();

    // A timer of the loop thread: `fire` runs there, with the loop locked, once per Start().
    // Made, started, stopped and destroyed with the loop locked.
    class Timer {
    public:
        Timer(PulseContext& pulse, std::function<void()> fire);
        ~Timer();
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;
        // Fires once `delay` from now (replacing an earlier start).
        void Start(std::chrono::microseconds delay);
        void Stop();
        bool Active() const { return active_; }

    private:
        static void OnTime(pa_mainloop_api*, pa_time_event*, const timeval*, void* self);
        PulseContext& pulse_;
        std::function<void()> fire_;
        pa_time_event* event_ = nullptr;
        bool active_ = false;
    };

    // Wakes every waiter; called by callbacks on the loop thread after storing their result.
    void Signal();

    // Handlers called on the loop thread each time a context becomes ready. Registered and
    // removed with the loop locked.
    using ReadyHandler = std::function<void(pa_context*)>;
    int AddReadyHandler(ReadyHandler handler);
    void RemoveReadyHandler(int id);

    // Handlers of the server's change events (sinks, sources, streams, the server itself),
    // called on the loop thread with the event's facility and type bits and the object's index.
    // Every context subscribes once for all of them. Registered and removed with the loop locked.
    using ChangeHandler = std::function<void(std::uint32_t event, std::uint32_t index)>;
    int AddChangeHandler(ChangeHandler handler);
    void RemoveChangeHandler(int id);

private:
    struct LoopDeleter {
        void operator()(pa_threaded_mainloop* loop) const;
    };
    struct ContextDeleter {
        void operator()(pa_context* context) const;
    };

    // The current context, or null; valid while the loop is locked.
    pa_context* Context() const { return context_.get(); }
    void StartConnecting();
    static void OnContextState(pa_context* context, void* self);
    static void OnOperationState(pa_operation* op, void* self);
    static void OnChange(pa_context* context, int event, std::uint32_t index, void* self);

    std::string server_;
    std::string appName_;
    std::unique_ptr<pa_threaded_mainloop, LoopDeleter> loop_;
    PulseLoopLock lock_;
    std::unique_ptr<pa_context, ContextDeleter> context_;  // changed with the loop locked
    std::uint64_t generation_ = 0;
    bool opened_ = false;
    std::chrono::steady_clock::time_point retryAfter_{};
    std::chrono::steady_clock::time_point connectStarted_{};
    std::vector<std::pair<int, ReadyHandler>> readyHandlers_;
    std::vector<std::pair<int, ChangeHandler>> changeHandlers_;
    int nextHandlerId_ = 1;

    std::mutex signalMutex_;
    std::condition_variable signalled_;
    std::uint64_t signals_ = 0;
};

}  // namespace velmora
