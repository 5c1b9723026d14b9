#pragma once

// Publisher forms of the client's operations: a caller subscribes to an operation's outcome and may cancel its
// subscription. Cancelling stops delivery to that subscriber only; the request runs to its end.

#include "aiclient/Outcome.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace aiclient {

/// A subscription. Once `cancel` has returned, its subscriber receives nothing more; a delivery running on
/// another thread at that moment is waited for. Destroying it cancels it, so keep it as long as you listen.
class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Cancellable(Cancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Cancellable& operator=(Cancellable&& other) noexcept
    {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable() { cancel(); }

    void cancel()
    {
        if (auto cancel = std::exchange(cancel_, nullptr))
            cancel();
    }

private:
    std::function<void()> cancel_;
};

namespace detail {

/// The subscribers of a publisher; each delivery holds the subscriber's lock so that a cancel waits for it.
template <class Handlers> class SubscriberList {
public:
    struct Subscriber {
        std::recursive_mutex delivery;
        bool cancelled = false;
        Handlers handlers;
    };
    using Pointer = std::shared_ptr<Subscriber>;

    Pointer add(Handlers handlers)
    {
        auto subscriber = std::make_shared<Subscriber>();
        subscriber->handlers = std::move(handlers);
        subscribers_.push_back(subscriber);
        return subscriber;
    }
    void remove(const Subscriber* subscriber)
    {
        std::erase_if(subscribers_, [&](const Pointer& each) { return each.get() == subscriber; });
    }
    std::vector<Pointer> snapshot() const { return subscribers_; }
    std::vector<Pointer> takeAll() { return std::exchange(subscribers_, {}); }

    template <class Deliver> static void deliver(const Pointer& subscriber, Deliver deliver)
    {
        std::lock_guard lock(subscriber->delivery);
        if (!subscriber->cancelled)
            deliver(subscriber->handlers);
    }

    /// A subscription that marks the subscriber cancelled and drops it from the list behind `owner`'s lock.
    template <class Owner> static Cancellable subscription(std::weak_ptr<Owner> owner, const Pointer& subscriber)
    {
        std::weak_ptr<Subscriber> weakSubscriber = subscriber;
        return Cancellable([owner = std::move(owner), weakSubscriber] {
            auto subscriber = weakSubscriber.lock();
            if (!subscriber)
                return;
            {
                std::lock_guard lock(subscriber->delivery);
                subscriber->cancelled = true;
            }
            if (auto state = owner.lock()) {
                std::lock_guard lock(state->mutex);
                state->subscribers.remove(subscriber.get());
            }
        });
    }

private:
    std::vector<Pointer> subscribers_;
};

} // namespace detail

/// The publisher of a one-shot operation. The request is sent when the operation is called, whether or not
/// anybody subscribes; its outcome is kept and given to every subscriber, also to one that subscribes later
/// (at once, during `subscribe`).
template <class T> class OutcomePublisher {
public:
    using Receive = std::function<void(Outcome<T>)>;

    /// A pending publisher and the function that settles it; only the first outcome given counts.
    static std::pair<OutcomePublisher, Receive> make()
    {
        auto state = std::make_shared<State>();
        Receive settle = [state](Outcome<T> outcome) {
            std::vector<typename Subscribers::Pointer> subscribers;
            {
                std::lock_guard lock(state->mutex);
                if (state->outcome)
                    return;
                state->outcome.emplace(std::move(outcome));
                subscribers = state->subscribers.takeAll();
            }
            for (const auto& subscriber : subscribers)
                Subscribers::deliver(subscriber, [&](const Receive& receive) { receive(*state->outcome); });
        };
        return {OutcomePublisher(state), std::move(settle)};
    }

    /// `receive` gets the outcome once, on the thread that settles it (or at once when it is already settled).
    [[nodiscard]] Cancellable subscribe(Receive receive) const
    {
        std::unique_lock lock(state_->mutex);
        if (!state_->outcome) {
            auto subscriber = state_->subscribers.add(std::move(receive));
            return Subscribers::subscription(std::weak_ptr<State>(state_), subscriber);
        }
        lock.unlock();
        // Settled: the outcome no longer changes, so it can be read without the lock.
        receive(*state_->outcome);
        return Cancellable();
    }

    /// The outcome, when it has arrived.
    bool isSettled() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->outcome.has_value();
    }

private:
    using Subscribers = detail::SubscriberList<Receive>;
    struct State {
        std::mutex mutex;
        std::optional<Outcome<T>> outcome;
        Subscribers subscribers;
    };
    explicit OutcomePublisher(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
};

/// The publisher of a streamed operation. Each chunk, or the error of a piece that could not be used, goes to
/// the subscribers present when it arrives; nothing is kept for later ones. The stream then ends once, with the
/// transfer's error or none, and that end is also given at once to anyone who subscribes afterwards.
template <class Chunk> class StreamPublisher {
public:
    using ReceiveElement = std::function<void(Outcome<Chunk>)>;
    using ReceiveCompletion = std::function<void(std::exception_ptr)>;

    /// The sending side, held by the operation's callbacks.
    class Sender {
    public:
        /// Ignored once the stream has ended.
        void send(Outcome<Chunk> element) const
        {
            std::vector<typename Subscribers::Pointer> subscribers;
            {
                std::lock_guard lock(state_->mutex);
                if (state_->finished)
                    return;
                subscribers = state_->subscribers.snapshot();
            }
            for (const auto& subscriber : subscribers)
                Subscribers::deliver(subscriber, [&](const Handlers& handlers) { handlers.element(element); });
        }
        /// Ends the stream, with `error` or normally; only the first call counts.
        void finish(std::exception_ptr error) const
        {
            std::vector<typename Subscribers::Pointer> subscribers;
            {
                std::lock_guard lock(state_->mutex);
                if (state_->finished)
                    return;
                state_->finished = true;
                state_->error = error;
                subscribers = state_->subscribers.takeAll();
            }
            for (const auto& subscriber : subscribers)
                Subscribers::deliver(subscriber, [&](const Handlers& handlers) { handlers.completion(error); });
        }

    private:
        friend class StreamPublisher;
        std::shared_ptr<typename StreamPublisher::State> state_;
    };

    static std::pair<StreamPublisher, Sender> make()
    {
        auto state = std::make_shared<State>();
        Sender sender;
        sender.state_ = state;
        return {StreamPublisher(std::move(state)), std::move(sender)};
    }

    /// `element` gets every element sent from now on; `completion` gets the end once, with the error or null.
    [[nodiscard]] Cancellable subscribe(ReceiveElement element, ReceiveCompletion completion = {}) const
    {
        if (!element)
            element = [](Outcome<Chunk>) {};
        if (!completion)
            completion = [](std::exception_ptr) {};
        std::unique_lock lock(state_->mutex);
        if (!state_->finished) {
            auto subscriber = state_->subscribers.add(Handlers{std::move(element), std::move(completion)});
            return Subscribers::subscription(std::weak_ptr<State>(state_), subscriber);
        }
        const std::exception_ptr error = state_->error;
        lock.unlock();
        completion(error);
        return Cancellable();
    }

private:
    struct Handlers {
        ReceiveElement element;
        ReceiveCompletion completion;
    };
    using Subscribers = detail::SubscriberList<Handlers>;
    struct State {
        std::mutex mutex;
        bool finished = false;
        std::exception_ptr error;
        Subscribers subscribers;
    };
    explicit StreamPublisher(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
};

} // namespace aiclient
