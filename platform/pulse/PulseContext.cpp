#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseShared.h"

#include <pulse/pulseaudio.h>

#include <stdexcept>

Q_LOGGING_CATEGORY(lcPulse, "velmora.pulse", QtWarningMsg)

namespace velmora {

namespace {

// After a connection attempt that timed out (a server that accepts but does not answer), further
// attempts are skipped for this long so that every call does not wait again.
constexpr std::chrono::milliseconds kRetryPause{1000};

}  // namespace

void PulseLoopLock::lock() {
    pa_threaded_mainloop_lock(loop_);
}
void PulseLoopLock::unlock() {
    pa_threaded_mainloop_unlock(loop_);
}

void PulseContext::LoopDeleter::operator()(pa_threaded_mainloop* loop) const {
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

void PulseContext::ContextDeleter::operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

PulseContext::PulseContext(std::string server, std::string appName, Opening opening)
    : server_(std::move(server)),
      appName_(std::move(appName)),
      loop_(pa_threaded_mainloop_new()),
      lock_(loop_.get()) {
    if (!loop_) {
        throw std::runtime_error("PulseAudio main loop could not be created");
    }
    if (pa_threaded_mainloop_start(loop_.get()) < 0) {
        throw std::runtime_error("PulseAudio main loop could not be started");
    }
    if (opening == Opening::AtOnce) {
        std::unique_lock lock(lock_);
        OpenLocked();
    }
}

void PulseContext::OpenLocked() {
    if (!opened_) {
        opened_ = true;
        StartConnecting();
    }
}

PulseContext::~PulseContext() {
    {
        std::unique_lock lock(lock_);
        context_.reset();
        readyHandlers_.clear();
        changeHandlers_.clear();
    }
    loop_.reset();
}

bool PulseContext::IsReady() const {
    return context_ && pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
}

void PulseContext::StartConnecting() {
    context_.reset();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_.get());
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, appName_.c_str());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "velmora");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "velmora");
    context_.reset(pa_context_new_with_proplist(api, appName_.c_str(), properties));
    pa_proplist_free(properties);
    if (!context_) {
        return;
    }
    ++generation_;
    connectStarted_ = std::chrono::steady_clock::now();
    pa_context_set_state_callback(context_.get(), &PulseContext::OnContextState, this);
    // No autospawn: starting a server is the desktop's business, and it could block.
    if (pa_context_connect(context_.get(), server_.empty() ? nullptr : server_.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        qCDebug(lcPulse) << "connect:" << pa_strerror(pa_context_errno(context_.get()));
        context_.reset();
    }
}

bool PulseContext::Connect() {
    std::unique_lock lock(lock_);
    return ConnectLocked(lock);
}

bool PulseContext::ConnectLocked(std::unique_lock<PulseLoopLock>& lock) {
    if (IsReady()) {
        return true;
    }
    if (!opened_) {
        return false;
    }
    auto state = [this] {
        return context_ ? pa_context_get_state(context_.get()) : PA_CONTEXT_FAILED;
    };
    if (!PA_CONTEXT_IS_GOOD(state())) {
        if (std::chrono::steady_clock::now() < retryAfter_) {
            return false;
        }
        StartConnecting();
    }
    Wait(
        lock,
        [&] { return !context_ || state() == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state()); },
        kConnectTimeout);
    if (IsReady()) {
        return true;
    }
    if (context_ && PA_CONTEXT_IS_GOOD(state())) {
        Abandon();
    } else if (context_) {
        qCDebug(lcPulse) << "no sound server:" << pa_strerror(pa_context_errno(context_.get()));
    }
    return false;
}

bool PulseContext::PollConnectLocked() {
    if (IsReady()) {
        return true;
    }
    if (!opened_) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get()))) {
        if (now - connectStarted_ > kConnectTimeout) {
            Abandon();
        }
        return false;
    }
    if (now >= retryAfter_) {
        StartConnecting();
    }
    return IsReady();
}

bool PulseContext::Wait(std::unique_lock<PulseLoopLock>& lock, const std::function<bool()>& done,
                        std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done()) {
            return true;
        }
        // Read with the loop locked: no callback can signal between this and the wait below
        // without changing the count.
        std::uint64_t seen;
        {
            std::lock_guard guard(signalMutex_);
            seen = signals_;
        }
        lock.unlock();
        bool woken;
        {
            std::unique_lock guard(signalMutex_);
            woken = signalled_.wait_until(guard, deadline, [&] { return signals_ != seen; });
        }
        lock.lock();
        if (!woken) {
            return done();
        }
    }
}

bool PulseContext::RunOperation(std::unique_lock<PulseLoopLock>& lock, pa_operation* op,
                                std::chrono::milliseconds timeout) {
    if (!op) {
        return false;
    }
    pa_operation_set_state_callback(op, &PulseContext::OnOperationState, this);
    const bool finished = Wait(
        lock, [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeout);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!finished) {
        pa_operation_cancel(op);
    }
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    if (!finished && timeout.count() > 0) {
        Abandon();
    }
    return done;
}

void PulseContext::OnSetReply(pa_context*, int success, void* reply) {
    auto* r = static_cast<SetReply*>(reply);
    r->success = success;
    r->pulse->Signal();
}

bool PulseContext::RunSet(std::unique_lock<PulseLoopLock>& lock, pa_operation* op,
                          const SetReply& reply, std::chrono::milliseconds timeout) {
    // The reply comes before the operation is done, and never after a cancel.
    return RunOperation(lock, op, timeout) && reply.success > 0;
}

bool PulseContext::Request(std::unique_lock<PulseLoopLock>& lock,
                           const std::function<pa_operation*(pa_context*)>& start,
                           std::chrono::milliseconds timeout) {
    pa_operation* op = nullptr;
    WithContext([&](pa_context* c) { op = start(c); });
    return RunOperation(lock, op, timeout);
}

bool PulseContext::Set(
    std::unique_lock<PulseLoopLock>& lock,
    const std::function<pa_operation*(pa_context*, SuccessCallback, void*)>& start,
    std::chrono::milliseconds timeout) {
    SetReply reply{this};
    pa_operation* op = nullptr;
    WithContext([&](pa_context* c) { op = start(c, &PulseContext::OnSetReply, &reply); });
    return RunSet(lock, op, reply, timeout);
}

PulseContext::Timer::Timer(PulseContext& pulse, std::function<void()> fire)
    : pulse_(pulse), fire_(std::move(fire)) {}

PulseContext::Timer::~Timer() {
    if (event_) {
        pa_threaded_mainloop_get_api(pulse_.loop_.get())->time_free(event_);
    }
}

void PulseContext::Timer::Start(std::chrono::microseconds delay) {
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(delay.count()));
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(pulse_.loop_.get());
    if (event_) {
        api->time_restart(event_, &when);
    } else {
        event_ = api->time_new(api, &when, &Timer::OnTime, this);
    }
    active_ = event_ != nullptr;
}

void PulseContext::Timer::Stop() {
    if (event_) {
        pa_threaded_mainloop_get_api(pulse_.loop_.get())->time_restart(event_, nullptr);
    }
    active_ = false;
}

void PulseContext::Timer::OnTime(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    auto* timer = static_cast<Timer*>(self);
    timer->active_ = false;
    timer->fire_();
}

void PulseContext::Abandon() {
    if (!context_) {
        return;
    }
    qCWarning(lcPulse) << "sound server does not answer; trying again later";
    context_.reset();
    retryAfter_ = std::chrono::steady_clock::now() + kRetryPause;
    Signal();
}

void PulseContext::Signal() {
    {
        std::lock_guard guard(signalMutex_);
        ++signals_;
    }
    signalled_.notify_all();
}

int PulseContext::AddReadyHandler(ReadyHandler handler) {
    const int id = nextHandlerId_++;
    readyHandlers_.emplace_back(id, std::move(handler));
    if (IsReady()) {
        readyHandlers_.back().second(context_.get());
    }
    return id;
}

void PulseContext::RemoveReadyHandler(int id) {
    std::erase_if(readyHandlers_, [id](const auto& entry) { return entry.first == id; });
}

int PulseContext::AddChangeHandler(ChangeHandler handler) {
    const int id = nextHandlerId_++;
    changeHandlers_.emplace_back(id, std::move(handler));
    return id;
}

void PulseContext::RemoveChangeHandler(int id) {
    std::erase_if(changeHandlers_, [id](const auto& entry) { return entry.first == id; });
}

void PulseContext::OnChange(pa_context*, int event, std::uint32_t index, void* userdata) {
    auto* self = static_cast<PulseContext*>(userdata);
    for (auto& [id, handler] : self->changeHandlers_) {
        handler(static_cast<std::uint32_t>(event), index);
    }
}

void PulseContext::OnContextState(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseContext*>(userdata);
    if (pa_context_get_state(context) == PA_CONTEXT_READY) {
        pa_context_set_subscribe_callback(
            context,
            [](pa_context* c, pa_subscription_event_type_t event, std::uint32_t index, void* data) {
                OnChange(c, static_cast<int>(event), index, data);
            },
            self);
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
            PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER |
            PA_SUBSCRIPTION_MASK_CARD);
        if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
        for (auto& [id, handler] : self->readyHandlers_) {
            handler(context);
        }
    }
    self->Signal();
}

void PulseContext::OnOperationState(pa_operation*, void* userdata) {
    static_cast<PulseContext*>(userdata)->Signal();
}

}  // namespace velmora
