// A broadcast channel of fixed capacity: every receiver sees every value published after it
// subscribed, as long as it keeps up. A receiver that falls more than `capacity` values behind
// loses the oldest ones, is told how many it missed ("lagged"), and then continues with the oldest
// value still held. Publishing never waits, so a slow receiver never stalls the publisher; a value
// published while no receiver exists is dropped. Receivers see "closed" once every sender is gone
// and they have taken what was held for them.
//
// Senders and receivers may live on different threads. One receiver is used by one waiter at a
// time.
#pragma once

#include <algorithm>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/experimental/concurrent_channel.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "knxip/runtime.hpp"

namespace tavrel::knxip {

template <class T>
struct Received {
    enum class Kind : std::uint8_t { Value, Lagged, Closed, Empty, TimedOut };
    Kind kind;
    std::optional<T> value;    // Value
    std::uint64_t missed = 0;  // Lagged
};

namespace detail {

// Wakes one waiting receiver. It keeps the io_context of its runtime alive (when created on a
// runtime worker), because destroying the channel needs that context's services.
struct Wakeup {
    explicit Wakeup(const asio::any_io_executor& executor)
        : keepalive(Runtime::current_context()), channel(executor, 1) {}
    std::shared_ptr<asio::io_context> keepalive;  // declared first: destroyed after the channel
    asio::experimental::concurrent_channel<void(std::error_code, bool)> channel;
};

template <class T>
struct BroadcastState {
    explicit BroadcastState(std::size_t capacity) : capacity(std::max<std::size_t>(capacity, 1)) {}

    std::mutex mutex;
    const std::size_t capacity;
    std::deque<T> held;       // values numbered [first, next)
    std::uint64_t first = 0;  // number of held.front()
    std::uint64_t next = 0;   // number the next published value gets
    std::size_t senders = 0;
    std::size_t receivers = 0;
    // Wake-up channels of receivers that have waited at least once.
    std::vector<std::shared_ptr<Wakeup>> wakeups;

    // Caller holds the mutex.
    void wake_all() {
        for (auto& w : wakeups) w->channel.try_send(std::error_code(), true);
    }
};

}  // namespace detail

template <class T>
class BroadcastReceiver;

template <class T>
class BroadcastSender {
  public:
    explicit BroadcastSender(std::size_t capacity)
        : state_(std::make_shared<detail::BroadcastState<T>>(capacity)) {
        state_->senders = 1;
    }
    BroadcastSender(const BroadcastSender& other) : state_(other.state_) {
        std::lock_guard lock(state_->mutex);
        ++state_->senders;
    }
    BroadcastSender(BroadcastSender&& other) noexcept = default;
    BroadcastSender& operator=(const BroadcastSender&) = delete;
    BroadcastSender& operator=(BroadcastSender&&) = delete;
    ~BroadcastSender() {
        if (!state_) return;
        std::lock_guard lock(state_->mutex);
        if (--state_->senders == 0) state_->wake_all();
    }

    // Returns false (and drops the value) when no receiver exists.
    bool publish(T value) const {
        std::lock_guard lock(state_->mutex);
        if (state_->receivers == 0) return false;
        state_->held.push_back(std::move(value));
        ++state_->next;
        if (state_->held.size() > state_->capacity) {
            state_->held.pop_front();
            ++state_->first;
        }
        state_->wake_all();
        return true;
    }

    // A new receiver that sees only values published from now on.
    BroadcastReceiver<T> subscribe() const { return BroadcastReceiver<T>(state_); }

    std::size_t receiver_count() const {
        std::lock_guard lock(state_->mutex);
        return state_->receivers;
    }

  private:
    std::shared_ptr<detail::BroadcastState<T>> state_;
};

template <class T>
class BroadcastReceiver {
  public:
    BroadcastReceiver(const BroadcastReceiver&) = delete;
    BroadcastReceiver& operator=(const BroadcastReceiver&) = delete;
    BroadcastReceiver(BroadcastReceiver&& other) noexcept
        : state_(std::move(other.state_)),
          position_(other.position_),
          wakeup_(std::move(other.wakeup_)) {}
    BroadcastReceiver& operator=(BroadcastReceiver&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
            position_ = other.position_;
            wakeup_ = std::move(other.wakeup_);
        }
        return *this;
    }
    ~BroadcastReceiver() { release(); }

    // Never waits: Value, Lagged, Closed or Empty.
    Received<T> try_recv() {
        std::lock_guard lock(state_->mutex);
        return take_locked();
    }

    // Waits for the next value, lag report or closure; with a deadline, Kind::TimedOut when it
    // passes first.
    asio::awaitable<Received<T>> recv(std::optional<Clock::time_point> deadline = std::nullopt) {
        auto executor = co_await asio::this_coro::executor;
        for (;;) {
            std::shared_ptr<detail::Wakeup> wakeup;
            {
                std::lock_guard lock(state_->mutex);
                Received<T> got = take_locked();
                if (got.kind != Received<T>::Kind::Empty) co_return got;
                if (!wakeup_) {
                    wakeup_ = std::make_shared<detail::Wakeup>(executor);
                    state_->wakeups.push_back(wakeup_);
                }
                wakeup = wakeup_;
            }
            if (deadline && Clock::now() >= *deadline) {
                co_return Received<T>{Received<T>::Kind::TimedOut};
            }
            // A wake-up token left from an earlier publish only costs one more look.
            if (deadline) {
                auto woke = co_await until(*deadline, wakeup->channel.async_receive(use_nothrow));
                if (!woke) {
                    std::lock_guard lock(state_->mutex);
                    Received<T> got = take_locked();
                    if (got.kind != Received<T>::Kind::Empty) co_return got;
                    co_return Received<T>{Received<T>::Kind::TimedOut};
                }
            } else {
                co_await wakeup->channel.async_receive(use_nothrow);
            }
        }
    }

  private:
    friend class BroadcastSender<T>;

    explicit BroadcastReceiver(std::shared_ptr<detail::BroadcastState<T>> state)
        : state_(std::move(state)) {
        std::lock_guard lock(state_->mutex);
        ++state_->receivers;
        position_ = state_->next;
    }

    // Caller holds the mutex.
    Received<T> take_locked() {
        using Kind = typename Received<T>::Kind;
        if (position_ < state_->first) {
            std::uint64_t missed = state_->first - position_;
            position_ = state_->first;
            return {Kind::Lagged, std::nullopt, missed};
        }
        if (position_ < state_->next) {
            T value = state_->held[static_cast<std::size_t>(position_ - state_->first)];
            ++position_;
            return {Kind::Value, std::move(value)};
        }
        if (state_->senders == 0) return {Kind::Closed};
        return {Kind::Empty};
    }

    void release() {
        if (!state_) return;
        // The state may die with our reference: let go of it only after unlocking.
        auto state = std::move(state_);
        std::lock_guard lock(state->mutex);
        --state->receivers;
        if (wakeup_) {
            auto& ws = state->wakeups;
            ws.erase(std::remove(ws.begin(), ws.end(), wakeup_), ws.end());
        }
    }

    std::shared_ptr<detail::BroadcastState<T>> state_;
    std::uint64_t position_ = 0;
    std::shared_ptr<detail::Wakeup> wakeup_;
};

}  // namespace tavrel::knxip
