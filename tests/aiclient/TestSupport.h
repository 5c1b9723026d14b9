#pragma once

// Helpers shared by the AI client's tests: small query and result models and a fake transport.

#include "LoopbackServer.h"
#include "aiclient/Coding.h"
#include "aiclient/HttpSession.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace aiclient::testing {

/// The error held by `error` as `Error`; any other error throws, failing the test that asked.
template <class Error> Error errorOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error& caught) {
        return caught;
    } catch (const std::exception& other) {
        throw std::runtime_error(std::string("unexpected error: ") + other.what());
    }
    throw std::runtime_error("unreachable");
}

/// A minimal answer model: {"id": text, "count": integer}.
struct TestResult {
    std::string id;
    std::int64_t count = 0;
    friend bool operator==(const TestResult&, const TestResult&) = default;
};

inline void decodeValue(const Decoder& decoder, TestResult& value)
{
    const KeyedContainer container = decoder.container("TestResult");
    value.id = container.decode<std::string>("id");
    value.count = container.decode<std::int64_t>("count");
}

/// A request body model; `ratio` may be set to NaN to make encoding fail.
struct TestQuery {
    std::string model;
    double ratio = 0.5;
    bool stream = false;
};

inline void to_json(OrderedJson& json, const TestQuery& query)
{
    json = OrderedJson::object();
    json["model"] = query.model;
    json["ratio"] = encodeFloat(query.ratio, "ratio");
    json["stream"] = query.stream;
}

/// A transport that records requests and answers them with whatever the test scripts, on a thread of its own.
class FakeSession final : public Session {
public:
    struct OneShotAnswer {
        std::optional<std::string> data;
        std::exception_ptr error;
    };
    struct StreamAnswer {
        std::vector<std::string> deliveries;
        std::exception_ptr error;
    };

    std::shared_ptr<DataTask> dataTask(HttpRequest request, DataTaskHandler handler) override
    {
        record(request);
        auto answer = oneShotAnswer;
        return std::make_shared<Task>([request, handler, answer] { handler(answer.data, std::nullopt, answer.error); },
                                      synchronous);
    }

    std::shared_ptr<DataTask> streamTask(HttpRequest request, DataReceivedHandler onData,
                                         TaskCompletedHandler onComplete) override
    {
        record(request);
        auto answer = streamAnswer;
        return std::make_shared<Task>(
            [onData, onComplete, answer] {
                for (const auto& delivery : answer.deliveries) {
                    onData(delivery);
                }
                onComplete(answer.error);
            },
            synchronous);
    }

    std::vector<HttpRequest> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    OneShotAnswer oneShotAnswer;
    StreamAnswer streamAnswer;
    /// When set, a task runs to its end inside `resume`, before the caller gets control back.
    bool synchronous = false;

private:
    class Task final : public DataTask {
    public:
        Task(std::function<void()> work, bool synchronous) : work_(std::move(work)), synchronous_(synchronous) {}
        void resume() override
        {
            if (started_) {
                return;
            }
            started_ = true;
            if (synchronous_) {
                work_();
            } else {
                std::thread(work_).detach();
            }
        }
        void cancel() override {}

    private:
        std::function<void()> work_;
        bool synchronous_;
        bool started_ = false;
    };

    void record(const HttpRequest& request)
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }

    mutable std::mutex mutex_;
    std::vector<HttpRequest> requests_;
};

} // namespace aiclient::testing
