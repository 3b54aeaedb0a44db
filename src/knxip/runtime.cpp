#include "knxip/runtime.hpp"

#include <system_error>

namespace tavrel::knxip {

namespace {
thread_local std::shared_ptr<asio::io_context> t_current_context;
}  // namespace

std::shared_ptr<asio::io_context> Runtime::current_context() {
    return t_current_context;
}

Runtime::Runtime() : context_(std::make_shared<asio::io_context>()) {}

std::expected<std::unique_ptr<Runtime>, std::error_code> Runtime::start(unsigned threads) {
    if (threads == 0) threads = std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    std::unique_ptr<Runtime> runtime(new Runtime());
    runtime->guard_.emplace(runtime->context_->get_executor());
    try {
        for (unsigned i = 0; i < threads; ++i) {
            runtime->workers_.emplace_back([context = runtime->context_] {
                t_current_context = context;
                context->run();
                t_current_context.reset();
            });
        }
    } catch (const std::system_error& e) {
        // Thread creation is the one failure here; the destructor joins whatever started.
        return std::unexpected(e.code());
    }
    return runtime;
}

Runtime::~Runtime() {
    shutdown();
}

void Runtime::shutdown() {
    guard_.reset();
    context_->stop();
    for (auto& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
}

asio::awaitable<void> sleep_until(Clock::time_point deadline) {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    timer.expires_at(deadline);
    co_await timer.async_wait(use_nothrow);
}

asio::awaitable<void> sleep_for(Clock::duration delay) {
    co_await sleep_until(Clock::now() + delay);
}

}  // namespace tavrel::knxip
