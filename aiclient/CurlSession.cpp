#include "aiclient/CurlSession.h"

#include "aiclient/ServiceErrors.h"
#include "aiclient/transport/CurlTransport.h"

#include <atomic>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <system_error>

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
    return loaded;
}

/// A task of a session without its module: it completes as it is resumed, saying why.
class UnavailableTask final : public DataTask {
public:
    UnavailableTask(DataTaskHandler handler) : oneShotHandler_(std::move(handler)) {}
    UnavailableTask(TaskCompletedHandler onComplete) : onComplete_(std::move(onComplete)) {}

    void resume() override
    {
        if (resumed_.exchange(true)) {
            return;
        }
        const std::exception_ptr error = std::make_exception_ptr(TransportError(
            TransportError::Kind::other, "The network transport could not be loaded. (" + module().failure + ")"));
        // As a transfer's end: a throwing callback has nobody left to tell.
        try {
            if (oneShotHandler_) {
                oneShotHandler_(std::nullopt, std::nullopt, error);
            } else if (onComplete_) {
                onComplete_(error);
            }
        } catch (...) {
        }
        oneShotHandler_ = nullptr;
        onComplete_ = nullptr;
    }

    void cancel() override {}

private:
    DataTaskHandler oneShotHandler_;
    TaskCompletedHandler onComplete_;
    std::atomic<bool> resumed_{false};
};

} // namespace

CurlSession::CurlSession() = default;

CurlSession::~CurlSession() = default;

Session* CurlSession::transport()
{
    std::call_once(made_, [this] {
        if (const transport::MakeSession make = module().makeSession) {
            transport_.reset(make(&host));
        }
    });
    return transport_.get();
}

std::shared_ptr<DataTask> CurlSession::dataTask(HttpRequest request, DataTaskHandler handler)
{
    if (Session* session = transport()) {
        return session->dataTask(std::move(request), std::move(handler));
    }
    return std::make_shared<UnavailableTask>(std::move(handler));
}

std::shared_ptr<DataTask> CurlSession::streamTask(HttpRequest request, DataReceivedHandler onData,
                                                  TaskCompletedHandler onComplete)
{
    if (Session* session = transport()) {
        return session->streamTask(std::move(request), std::move(onData), std::move(onComplete));
    }
    return std::make_shared<UnavailableTask>(std::move(onComplete));
}

} // namespace aiclient
