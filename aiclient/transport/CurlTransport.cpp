#include "aiclient/transport/CurlTransport.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <curl/curl.h>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace aiclient::transport {

namespace {

/// The library that loaded the module, set by the entry point before the first session is made.
const Host* host = nullptr;
std::once_flag hostSet;

/// A session of transfers, each on a worker thread of its own with its own easy handle, so the callbacks of one
/// task never overlap and a slow callback delays only its own transfer. Destroying it cancels every transfer
/// still running and waits for each to end (see `CurlSession`).
class CurlTransport final : public Session {
public:
    CurlTransport();
    ~CurlTransport() override;
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    std::shared_ptr<DataTask> dataTask(HttpRequest request, DataTaskHandler handler) override;
    std::shared_ptr<DataTask> streamTask(HttpRequest request, DataReceivedHandler onData,
                                         TaskCompletedHandler onComplete) override;

    /// The running transfers, shared with the tasks so that a task outliving its session learns it is gone.
    class Transfers;

private:
    std::shared_ptr<Transfers> transfers_;
};

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string trimmed(std::string_view text)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

/// "0.3 s", "20 s": a time-out as the user set it.
std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

/// One transfer: the request, what came back so far, and the caller's callbacks.
class CurlTask final : public DataTask, public std::enable_shared_from_this<CurlTask> {
public:
    CurlTask(std::weak_ptr<CurlTransport::Transfers> owner, HttpRequest request, DataTaskHandler handler)
        : owner_(std::move(owner)), request_(std::move(request)), oneShotHandler_(std::move(handler))
    {}
    CurlTask(std::weak_ptr<CurlTransport::Transfers> owner, HttpRequest request, DataReceivedHandler onData,
             TaskCompletedHandler onComplete)
        : owner_(std::move(owner)), request_(std::move(request)), onData_(std::move(onData)),
          onComplete_(std::move(onComplete))
    {}

    void resume() override;

    void cancel() override
    {
        std::lock_guard lock(multiMutex_);
        cancelled_ = true;
        if (multi_ != nullptr) {
            curl_multi_wakeup(multi_);
        }
    }

    /// The transfer and its callbacks are done; only the end of the thread's function remains.
    bool finished() const { return finished_; }

    /// Runs the transfer and reports its end; the body of the task's worker thread.
    void run();

    /// Reports a task that can no longer start: its session is gone.
    void reportNotStarted()
    {
        finish(host->transportError(TransportError::Kind::cancelled, "The request was cancelled."));
    }

private:
    static size_t onBytes(char* data, size_t size, size_t count, void* context)
    {
        auto* task = static_cast<CurlTask*>(context);
        const size_t length = size * count;
        task->noteActivity();
        // Counted after decompression, so a small compressed answer cannot unpack into an unbounded one.
        if (length > task->request_.maxResponseBytes - task->receivedCount_) {
            task->tooLarge_ = true;
            return 0;
        }
        task->receivedCount_ += length;
        if (!task->onData_) {
            task->body_.append(data, length);
            task->receivedBytes_ = true;
            return length;
        }
        // No exception may cross libcurl: a failing receiver stops the transfer and is reported at its end.
        try {
            task->onData_(std::string_view(data, length));
        } catch (...) {
            task->callbackError_ = std::current_exception();
            return 0;
        }
        return length;
    }

    static size_t onHeaderLine(char* data, size_t size, size_t count, void* context)
    {
        auto* task = static_cast<CurlTask*>(context);
        const size_t length = size * count;
        task->noteActivity();
        std::string_view line(data, length);
        if (line.starts_with("HTTP/")) {
            // A new head starts (after an interim answer): forget the previous one.
            task->response_.headers.clear();
            // A redirect is never followed: the service's answer is the one asked for, and following it would
            // post the body, the key among the headers, wherever the answer points. Stop at its status line.
            const long status = statusOfLine(line);
            if (status >= 300 && status < 400) {
                task->redirectStatus_ = status;
                return 0;
            }
        } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
            task->response_.headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
        }
        return length;
    }

    /// The status code of a status line such as "HTTP/1.1 307 Temporary Redirect"; 0 when it has none.
    static long statusOfLine(std::string_view line)
    {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) {
            return 0;
        }
        long status = 0;
        const char* begin = line.data() + space + 1;
        std::from_chars(begin, line.data() + line.size(), status);
        return status;
    }

    static int onProgress(void* context, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
    {
        auto* task = static_cast<CurlTask*>(context);
        if (task->cancelled_) {
            return 1;
        }
        if (downloaded + uploaded != task->movedCount_) {
            task->movedCount_ = downloaded + uploaded;
            task->noteActivity();
        }
        return 0;
    }

    /// A byte moved: the idle time-out starts again.
    void noteActivity() { lastActivity_ = std::chrono::steady_clock::now(); }

    /// A time in seconds within what libcurl's whole-number options can hold: at least a millisecond (NaN
    /// too), and at most a year, so that an infinite time means no practical limit rather than overflowing
    /// into a one-second one.
    static double boundedSeconds(double seconds)
    {
        constexpr double longest = 365.0 * 24 * 60 * 60;
        if (!(seconds >= 0.001)) {
            return 0.001;
        }
        return std::min(seconds, longest);
    }

    static long milliseconds(double seconds) { return static_cast<long>(std::ceil(boundedSeconds(seconds) * 1000.0)); }

    std::exception_ptr perform()
    {
        static std::once_flag globalInit;
        std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

        for (const auto& [name, value] : request_.headers) {
            if (!host->isSendableHeaderText(name) || !host->isSendableHeaderText(value)) {
                return host->transportError(TransportError::Kind::other,
                                            "A request header holds a line break; not sent.");
            }
        }

        std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
        if (!easy) {
            return host->transportError(TransportError::Kind::other, "Cannot start a transfer.");
        }
        CURL* handle = easy.get();
        char errorText[CURL_ERROR_SIZE] = {};

        curl_easy_setopt(handle, CURLOPT_URL, request_.url.c_str());
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        // Verbose output would print the request headers, the key among them.
        curl_easy_setopt(handle, CURLOPT_VERBOSE, 0L);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
        constexpr auto maxOffset = static_cast<std::uintmax_t>(std::numeric_limits<curl_off_t>::max());
        // An answer that announces its size is refused before its first byte when it is too large.
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(std::min<std::uintmax_t>(request_.maxResponseBytes, maxOffset)));

        // The idle time-out: the connection must be made within it, and afterwards a transfer slower than the
        // minimum rate (at least a byte a second) over the whole interval counts as stalled. libcurl measures
        // that in whole seconds and averages its rate over several, so after bytes have moved it notices a stall
        // late: `transfer` also times the stall itself, from the last byte in either direction.
        const double idle = boundedSeconds(request_.timeoutInterval);
        const double rate = request_.minimumBytesPerSecond;
        const double longestRate = static_cast<double>(std::numeric_limits<long>::max());
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(idle));
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT,
                         rate >= 1 ? static_cast<long>(std::min(std::ceil(rate), longestRate)) : 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::ceil(idle)));
        // The whole request, however steadily its bytes come, ends by its deadline.
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, milliseconds(request_.deadline));

        if (request_.body) {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body->size()));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request_.body->data());
            if (request_.method != "POST") {
                curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request_.method.c_str());
            }
        } else if (request_.method == "GET") {
            curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        } else if (request_.method == "POST") {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, "");
        } else {
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request_.method.c_str());
        }

        std::unique_ptr<curl_slist, SlistDeleter> headers;
        auto addHeader = [&](const std::string& line) {
            curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
            if (grown) {
                headers.release();
                headers.reset(grown);
            }
        };
        for (const auto& [name, value] : request_.headers) {
            // "Name;" is libcurl's way of sending a header with an empty value; "Name:" would remove it.
            addHeader(value.empty() ? name + ";" : name + ": " + value);
        }
        // No "Expect: 100-continue" round trip before large bodies.
        addHeader("Expect:");
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &CurlTask::onBytes);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &CurlTask::onHeaderLine);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &CurlTask::onProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

        const CURLcode code = transfer(handle);
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        response_.statusCode = status;
        if (code == CURLE_OK) {
            return nullptr;
        }
        if (redirectStatus_ != 0) {
            return host->httpStatusError(redirectStatus_);
        }
        if (callbackError_) {
            return callbackError_;
        }
        if (tooLarge_ || code == CURLE_FILESIZE_EXCEEDED) {
            return host->responseTooLargeError(request_.maxResponseBytes);
        }
        if (idleTimedOut_) {
            return host->transportError(TransportError::Kind::timedOut,
                                        "The request timed out. (Nothing was sent or received for " +
                                            secondsText(boundedSeconds(request_.timeoutInterval)) + ".)");
        }
        return transportError(code, errorText);
    }

    std::exception_ptr transportError(CURLcode code, const char* errorText) const
    {
        std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
        switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return host->transportError(TransportError::Kind::timedOut, "The request timed out. (" + detail + ")");
        case CURLE_ABORTED_BY_CALLBACK:
            return host->transportError(TransportError::Kind::cancelled, "The request was cancelled.");
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return host->transportError(TransportError::Kind::cannotConnect,
                                        "Could not connect to the server. (" + detail + ")");
        default:
            return host->transportError(TransportError::Kind::other, "The request failed. (" + detail + ")");
        }
    }

    /// Runs the easy handle inside a multi handle of its own, so that `cancel` can wake the wait for bytes at
    /// once instead of at libcurl's next progress call. Answers the transfer's result.
    CURLcode transfer(CURL* handle)
    {
        std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
        if (!multi || curl_multi_add_handle(multi.get(), handle) != CURLM_OK) {
            return CURLE_OUT_OF_MEMORY;
        }
        {
            std::lock_guard lock(multiMutex_);
            multi_ = multi.get();
        }
        const std::chrono::duration<double> idleLimit(boundedSeconds(request_.timeoutInterval));
        noteActivity();
        CURLcode result = CURLE_OK;
        for (int running = 1; running > 0;) {
            if (cancelled_) {
                result = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    result = message->data.result;
                }
            }
            if (running == 0) {
                break;
            }
            const auto idleLeft = idleLimit - (std::chrono::steady_clock::now() - lastActivity_);
            if (idleLeft <= idleLeft.zero()) {
                idleTimedOut_ = true;
                result = CURLE_OPERATION_TIMEDOUT;
                break;
            }
            // Woken by bytes, by `cancel`, or when the stall would have lasted the whole idle time-out.
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(idleLeft).count();
            if (curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(std::clamp<decltype(wait)>(wait, 1, 1000)),
                                nullptr) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
        }
        {
            std::lock_guard lock(multiMutex_);
            multi_ = nullptr;
        }
        curl_multi_remove_handle(multi.get(), handle);
        return result;
    }

    void finish(std::exception_ptr error)
    {
        // A throwing callback has nobody left to tell on this thread; it must not end the process.
        try {
            if (oneShotHandler_) {
                std::optional<std::string> data;
                if (!error || receivedBytes_) {
                    data = std::move(body_);
                }
                std::optional<HttpResponse> response;
                if (response_.statusCode != 0) {
                    response = std::move(response_);
                }
                oneShotHandler_(std::move(data), std::move(response), error);
            } else if (onComplete_) {
                onComplete_(error);
            }
        } catch (...) {
        }
        // Drop the callbacks here, on the worker thread, so whatever they hold is released as soon as we end.
        // That may be the last reference to the session itself, which then lets this thread finish alone.
        oneShotHandler_ = nullptr;
        onData_ = nullptr;
        onComplete_ = nullptr;
        finished_ = true;
    }

    std::weak_ptr<CurlTransport::Transfers> owner_;
    HttpRequest request_;
    DataTaskHandler oneShotHandler_;
    DataReceivedHandler onData_;
    TaskCompletedHandler onComplete_;
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::mutex multiMutex_;
    CURLM* multi_ = nullptr; // while the transfer runs, for `cancel` to wake
    std::string body_;
    bool receivedBytes_ = false;
    HttpResponse response_;
    std::exception_ptr callbackError_;
    std::size_t receivedCount_ = 0;
    bool tooLarge_ = false;
    long redirectStatus_ = 0;
    // Touched only on the transfer's own thread.
    std::chrono::steady_clock::time_point lastActivity_;
    curl_off_t movedCount_ = 0;
    bool idleTimedOut_ = false;
};

/// The worker threads of a session's transfers. Threads of finished transfers are joined when the next one
/// starts; the session's destructor cancels and joins the rest.
class CurlTransport::Transfers {
public:
    /// Starts `task` on a thread of its own; false when the session is gone.
    bool start(const std::shared_ptr<CurlTask>& task)
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        std::erase_if(running_, [](Running& transfer) {
            if (!transfer.task->finished()) {
                return false;
            }
            transfer.thread.join(); // only the end of its function is left
            return true;
        });
        // The thread keeps the task alive until the transfer and its callbacks are done.
        running_.push_back(Running{task, std::thread([task] { task->run(); })});
        return true;
    }

    void cancelAndJoin()
    {
        std::vector<Running> running;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            running.swap(running_);
        }
        for (Running& transfer : running) {
            transfer.task->cancel();
        }
        for (Running& transfer : running) {
            if (transfer.thread.get_id() == std::this_thread::get_id()) {
                transfer.thread.detach(); // a callback of this transfer let the session go
            } else {
                transfer.thread.join();
            }
        }
    }

private:
    struct Running {
        std::shared_ptr<CurlTask> task;
        std::thread thread;
    };
    std::mutex mutex_;
    bool closed_ = false;
    std::vector<Running> running_;
};

void CurlTask::resume()
{
    if (started_.exchange(true)) {
        return;
    }
    const std::shared_ptr<CurlTransport::Transfers> owner = owner_.lock();
    if (!owner || !owner->start(shared_from_this())) {
        reportNotStarted();
    }
}

void CurlTask::run()
{
    std::exception_ptr error;
    try {
        error = perform();
    } catch (...) {
        error = std::current_exception();
    }
    finish(error);
}

CurlTransport::CurlTransport() : transfers_(std::make_shared<Transfers>())
{}

CurlTransport::~CurlTransport()
{
    transfers_->cancelAndJoin();
}

std::shared_ptr<DataTask> CurlTransport::dataTask(HttpRequest request, DataTaskHandler handler)
{
    return std::make_shared<CurlTask>(transfers_, std::move(request), std::move(handler));
}

std::shared_ptr<DataTask> CurlTransport::streamTask(HttpRequest request, DataReceivedHandler onData,
                                                    TaskCompletedHandler onComplete)
{
    return std::make_shared<CurlTask>(transfers_, std::move(request), std::move(onData), std::move(onComplete));
}

} // namespace

} // namespace aiclient::transport

extern "C" __attribute__((visibility("default"))) aiclient::Session*
aiclient_make_curl_session(const aiclient::transport::Host* host)
{
    std::call_once(aiclient::transport::hostSet, [host] { aiclient::transport::host = host; });
    return new aiclient::transport::CurlTransport();
}
