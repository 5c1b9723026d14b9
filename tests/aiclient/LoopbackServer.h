#pragma once

// A real HTTP server on the loopback interface for the AI client's transport tests.

#include <chrono>
#include <functional>
#include <future>
#include <httplib.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace aiclient::testing {

/// A cpp-httplib server on a loopback address (127.0.0.1 unless told "::1") and a free port, running until
/// destroyed. It remembers every request.
class LoopbackServer {
public:
    struct Recorded {
        std::string method;
        std::string path;
        std::string body;
        httplib::Headers headers;
        /// The parts of a multipart body, which the server takes out of `body`.
        httplib::MultipartFormDataMap parts;
    };

    explicit LoopbackServer(const std::string& address = "127.0.0.1")
    {
        port_ = server_.bind_to_any_port(address);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 500 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ~LoopbackServer()
    {
        server_.stop();
        thread_.join();
    }

    httplib::Server& server() { return server_; }
    int port() const { return port_; }

    /// Handles POST `path` with `handler` after recording the request.
    void onPost(const std::string& path, std::function<void(const httplib::Request&, httplib::Response&)> handler)
    {
        server_.Post(path, [this, handler](const httplib::Request& request, httplib::Response& response) {
            record(request);
            handler(request, response);
        });
    }
    void onGet(const std::string& path, std::function<void(const httplib::Request&, httplib::Response&)> handler)
    {
        server_.Get(path, [this, handler](const httplib::Request& request, httplib::Response& response) {
            record(request);
            handler(request, response);
        });
    }

    std::vector<Recorded> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void record(const httplib::Request& request)
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(Recorded{request.method, request.path, request.body, request.headers, request.files});
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Recorded> requests_;
};

/// Runs `body` with a one-shot completion and waits (bounded) for the value it receives.
template <class T> T waitFor(std::future<T>& future)
{
    if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        throw std::runtime_error("timed out waiting for a callback");
    }
    return future.get();
}

} // namespace aiclient::testing
