// The asynchronous runtime a client owns: one Asio io_context run by worker threads, plus the
// helpers that let a blocking caller wait for a coroutine and let a coroutine wait with a deadline.
//
// Threading contract:
// - `block_on` must not be called from one of the runtime's own worker threads (it would wait for
//   work that needs that thread).
// - Objects that hold sockets or timers of the runtime keep the io_context alive through
//   `context_ref()`, so they may be destroyed before or after the `Runtime` itself. After the
//   runtime has been shut down, nothing posted to it runs any more.
#pragma once

// g++ 12 misreads the allocation of Asio's coroutine frames (a matching class-specific new and
// sized delete) as mismatched once a coroutine is inlined into another; every user of awaitables
// includes this header, so the false alarm is silenced once, here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/use_future.hpp>
#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace tavrel::knxip {

using Clock = std::chrono::steady_clock;

// Completion token for awaited Asio operations: failures come back as error codes in a tuple
// instead of exceptions.
inline constexpr auto use_nothrow = asio::experimental::as_tuple(asio::use_awaitable);

class Runtime {
  public:
    // Starts `threads` workers; 0 means one per available processor (at least one).
    static std::expected<std::unique_ptr<Runtime>, std::error_code> start(unsigned threads = 0);

    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;
    ~Runtime();  // shutdown()

    // Stops the io_context and joins the workers; pending tasks never resume. Idempotent.
    void shutdown();

    asio::io_context& context() { return *context_; }
    std::shared_ptr<asio::io_context> context_ref() const { return context_; }
    asio::any_io_executor executor() { return context_->get_executor(); }
    unsigned worker_count() const { return static_cast<unsigned>(workers_.size()); }
    // The io_context of the runtime whose worker thread calls this; null on any other thread.
    static std::shared_ptr<asio::io_context> current_context();

    // Runs `op` on the runtime (or on `where`, an executor of it) and blocks the calling thread
    // until it has finished.
    template <class T>
    T block_on(asio::awaitable<T> op) {
        return block_on(executor(), std::move(op));
    }
    template <class T>
    T block_on(const asio::any_io_executor& where, asio::awaitable<T> op) {
        if constexpr (std::is_void_v<T>) {
            asio::co_spawn(where, std::move(op), asio::use_future).get();
        } else {
            // The result travels outside the future, so T need not be default-constructible.
            std::optional<T> result;
            auto run = [](asio::awaitable<T> inner,
                          std::optional<T>& out) -> asio::awaitable<void> {
                out.emplace(co_await std::move(inner));
            };
            asio::co_spawn(where, run(std::move(op), result), asio::use_future).get();
            return std::move(*result);
        }
    }

  private:
    Runtime();

    std::shared_ptr<asio::io_context> context_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard_;
    std::vector<std::thread> workers_;
};

// Waits for `op` until `deadline`: the operation's result, or nullopt when the deadline came first
// (the operation is then cancelled). `op` must react to Asio cancellation (socket operations do).
template <class T>
asio::awaitable<std::optional<T>> until(Clock::time_point deadline, asio::awaitable<T> op) {
    using namespace asio::experimental::awaitable_operators;
    asio::steady_timer timer(co_await asio::this_coro::executor);
    timer.expires_at(deadline);
    auto won = co_await (std::move(op) || timer.async_wait(use_nothrow));
    if (won.index() == 0) co_return std::optional<T>(std::move(std::get<0>(won)));
    co_return std::nullopt;
}

// Pauses the calling coroutine until `deadline` (or for `delay`).
asio::awaitable<void> sleep_until(Clock::time_point deadline);
asio::awaitable<void> sleep_for(Clock::duration delay);

}  // namespace tavrel::knxip
