#include "aiclient/CurlSession.h"

#include "aiclient/ServiceErrors.h"
#include "aiclient/transport/CurlTransport.h"

#include <atomic>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace aiclient {

namespace {

const transport::Host host{
    [](TransportError::Kind kind, const std::string& message) {
        return std::make_exception_ptr(TransportError(kind, message));
    },
    [](long statusCode) { return std::make_exception_ptr(HTTPStatusError(statusCode)); },
    [](std::size_t limit) { return std::make_exception_ptr(ResponseTooLargeError(limit)); },
    &isSendableHeaderText,
};

/// The module's entry point, or why there is none.
struct Module {
    transport::MakeSession makeSession = nullptr;
    std::string failure;
};

/// The module as it is installed beside the running program, else as this build left it.
std::filesystem::path modulePath()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed = program.parent_path() / AICLIENT_INSTALLED_TRANSPORT;
        if (std::filesystem::exists(installed, error)) {
            return installed;
        }
    }
    return AICLIENT_BUILT_TRANSPORT;
}

/// Set once `module` has loaded (or failed to load) the module: from then on it answers at once.
std::atomic<bool> moduleLoaded{false};

/// Loaded once for the process and never let go: its code runs every transfer, and its errors' destructors.
const Module& module()
{
    static const Module loaded = [] {
        Module module;
        const std::filesystem::path path = modulePath();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            module.failure = why != nullptr ? why : path.string();
            return module;
        }
        module.makeSession = reinterpret_cast<transport::MakeSession>(dlsym(handle, transport::makeSessionName));
        if (module.makeSession == nullptr) {
            module.failure = path.string() + " has no entry point";
        }
        return module;
    }();
    moduleLoaded.store(true, std::memory_order_release);
    return loaded;
}

std::exception_ptr cancelledError()
{
    return std::make_exception_ptr(TransportError(TransportError::Kind::cancelled, "The request was cancelled."));
}

/// Ends a task that had no transfer with `error`, as a transfer's end would: a throwing callback has nobody left
/// to tell. The callbacks go with it.
void completeWithoutTransfer(DataTaskHandler& oneShotHandler, DataReceivedHandler& onData,
                             TaskCompletedHandler& onComplete, const std::exception_ptr& error)
{
    try {
        if (oneShotHandler) {
            oneShotHandler(std::nullopt, std::nullopt, error);
        } else if (onComplete) {
            onComplete(error);
        }
    } catch (...) {
    }
    oneShotHandler = nullptr;
    onData = nullptr;
    onComplete = nullptr;
}

/// A task of a session without its module: it completes as it is resumed, saying why.
class UnavailableTask final : public DataTask {
public:
    UnavailableTask(DataTaskHandler handler, TaskCompletedHandler onComplete)
        : oneShotHandler_(std::move(handler)), onComplete_(std::move(onComplete))
    {}

    void resume() override
    {
        if (resumed_.exchange(true)) {
            return;
        }
        DataReceivedHandler noData;
        completeWithoutTransfer(
            oneShotHandler_, noData, onComplete_,
            std::make_exception_ptr(TransportError(
                TransportError::Kind::other, "The network transport could not be loaded. (" + module().failure + ")")));
    }

    void cancel() override {}

private:
    DataTaskHandler oneShotHandler_;
    TaskCompletedHandler onComplete_;
    std::atomic<bool> resumed_{false};
};

/// A task as the session hands it out: it holds the request and the callbacks until the session has its
/// transport, and then makes the transport's own task of them.
class PendingTask final : public DataTask, public std::enable_shared_from_this<PendingTask> {
public:
    PendingTask(std::weak_ptr<CurlSession::State> session, HttpRequest request, DataTaskHandler handler,
                DataReceivedHandler onData, TaskCompletedHandler onComplete)
        : session_(std::move(session)), request_(std::move(request)), oneShotHandler_(std::move(handler)),
          onData_(std::move(onData)), onComplete_(std::move(onComplete))
    {}

    void resume() override;

    void cancel() override
    {
        std::shared_ptr<DataTask> made;
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
            made = made_;
        }
        if (made) {
            made->cancel();
        }
    }

    /// The transport's task for this one (`transport` null: one that says the module is missing); null when the
    /// task was cancelled first. The caller resumes it.
    std::shared_ptr<DataTask> make(Session* transport)
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) {
            return nullptr;
        }
        if (transport == nullptr) {
            made_ = std::make_shared<UnavailableTask>(std::move(oneShotHandler_), std::move(onComplete_));
        } else if (oneShotHandler_) {
            made_ = transport->dataTask(std::move(request_), std::move(oneShotHandler_));
        } else {
            made_ = transport->streamTask(std::move(request_), std::move(onData_), std::move(onComplete_));
        }
        return made_;
    }

    /// Completes the task with `error`, without a transfer.
    void fail(const std::exception_ptr& error)
    {
        completeWithoutTransfer(oneShotHandler_, onData_, onComplete_, error);
    }

private:
    std::weak_ptr<CurlSession::State> session_;
    HttpRequest request_;
    DataTaskHandler oneShotHandler_;
    DataReceivedHandler onData_;
    TaskCompletedHandler onComplete_;
    std::atomic<bool> resumed_{false};
    std::mutex mutex_;
    bool cancelled_ = false;
    std::shared_ptr<DataTask> made_;
};

std::unique_ptr<Session> makeTransport(const Module& loaded)
{
    return loaded.makeSession != nullptr ? std::unique_ptr<Session>(loaded.makeSession(&host)) : nullptr;
}

} // namespace

class CurlSession::State {
public:
    /// Loads the module, makes the transport and starts the tasks resumed meanwhile; the loader's thread.
    void load()
    {
        const Module& loaded = module();
        std::vector<std::pair<std::shared_ptr<PendingTask>, std::shared_ptr<DataTask>>> started;
        {
            std::lock_guard lock(mutex);
            if (!made && !closed) {
                transport = makeTransport(loaded);
                made = true;
            }
            for (const std::shared_ptr<PendingTask>& task : waiting) {
                started.emplace_back(task, closed ? nullptr : task->make(transport.get()));
            }
            waiting.clear();
        }
        for (const auto& [task, made] : started) {
            made ? made->resume() : task->fail(cancelledError());
        }
    }

    std::mutex mutex;
    std::unique_ptr<Session> transport;
    /// `transport` was made (null when the module is missing).
    bool made = false;
    /// The session is gone: tasks no longer start.
    bool closed = false;
    std::vector<std::shared_ptr<PendingTask>> waiting;
    std::thread loader;
};

namespace {

void PendingTask::resume()
{
    if (resumed_.exchange(true)) {
        return;
    }
    const std::shared_ptr<CurlSession::State> session = session_.lock();
    std::shared_ptr<DataTask> made;
    if (session) {
        std::lock_guard lock(session->mutex);
        if (!session->closed) {
            if (!session->made && !moduleLoaded.load(std::memory_order_acquire)) {
                // The module's files are read on the loader's thread, never on the one that resumes.
                session->waiting.push_back(shared_from_this());
                if (!session->loader.joinable()) {
                    session->loader = std::thread([session] { session->load(); });
                }
                return;
            }
            if (!session->made) {
                session->transport = makeTransport(module());
                session->made = true;
            }
            made = make(session->transport.get());
        }
    }
    made ? made->resume() : fail(cancelledError());
}

} // namespace

CurlSession::CurlSession() : state_(std::make_shared<State>())
{}

CurlSession::~CurlSession()
{
    std::thread loader;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        loader = std::move(state_->loader);
    }
    if (loader.joinable()) {
        if (loader.get_id() == std::this_thread::get_id()) {
            loader.detach(); // a callback of a task it started let the session go
        } else {
            loader.join(); // the tasks it had not started yet are told they were cancelled
        }
    }
    std::unique_ptr<Session> transport;
    {
        std::lock_guard lock(state_->mutex);
        transport = std::move(state_->transport);
    }
    transport.reset(); // cancels its transfers and waits for them
}

std::shared_ptr<DataTask> CurlSession::dataTask(HttpRequest request, DataTaskHandler handler)
{
    return std::make_shared<PendingTask>(state_, std::move(request), std::move(handler), nullptr, nullptr);
}

std::shared_ptr<DataTask> CurlSession::streamTask(HttpRequest request, DataReceivedHandler onData,
                                                  TaskCompletedHandler onComplete)
{
    return std::make_shared<PendingTask>(state_, std::move(request), nullptr, std::move(onData), std::move(onComplete));
}

} // namespace aiclient
