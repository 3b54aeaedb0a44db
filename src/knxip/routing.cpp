#include "knxip/routing.hpp"

#include <algorithm>
#include <array>
#include <asio/buffer.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/concurrent_channel.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <asio/this_coro.hpp>
#include <atomic>
#include <deque>
#include <mutex>
#include <utility>

namespace tavrel::knxip {

namespace {

constexpr std::size_t kReceiveBufferSize = 1500;
// The largest frame whose datagram length still fits the header's 16-bit total length.
constexpr std::size_t kMaxRoutedFrame = 0xFFFF - core::KnxNetIpHeader::kSize;
constexpr std::uint32_t kMaxTtl = 255;

KnxIpError io(std::error_code error) {
    return KnxIpError::io(error);
}

}  // namespace

std::expected<core::Buffer, KnxIpError> encode_routing_packet(const core::CemiFrame& frame) {
    core::Buffer cemi;
    if (auto encoded = frame.encode(cemi); !encoded) {
        return std::unexpected(KnxIpError::core(encoded.error()));
    }
    if (cemi.size() > kMaxRoutedFrame) {
        return std::unexpected(KnxIpError::invalid_response("KNXnet/IP frame too long"));
    }
    core::Buffer datagram;
    datagram.reserve(core::KnxNetIpHeader::kSize + cemi.size());
    const auto total = static_cast<std::uint16_t>(core::KnxNetIpHeader::kSize + cemi.size());
    if (auto header =
            core::KnxNetIpHeader::encode(core::service::kRoutingIndication, total, datagram);
        !header) {
        return std::unexpected(KnxIpError::core(header.error()));
    }
    datagram.insert(datagram.end(), cemi.begin(), cemi.end());
    return datagram;
}

std::expected<core::CemiFrame, KnxIpError> routed_group_write(core::IndividualAddress source,
                                                              core::GroupAddress destination,
                                                              core::GroupPayload payload) {
    auto frame = core::CemiFrame::group_value_write(source, destination, std::move(payload));
    if (!frame) return std::unexpected(KnxIpError::core(frame.error()));
    frame->message_code = core::cemi::kLDataInd;
    return std::move(*frame);
}

std::expected<std::optional<RouteEvent>, KnxIpError> decode_routing_packet(
    core::Octets datagram, const Endpoint& received_from) {
    auto header = core::KnxNetIpHeader::decode(datagram);
    if (!header) return std::unexpected(KnxIpError::core(header.error()));
    if (header->value.service_type != core::service::kRoutingIndication) {
        return std::optional<RouteEvent>();
    }
    auto frame = core::CemiFrame::decode(header->rest);
    if (!frame) return std::unexpected(KnxIpError::core(frame.error()));
    if (!frame->rest.empty()) {
        return std::unexpected(
            KnxIpError::core(core::KnxError::invalid_frame("routing cEMI has trailing bytes")));
    }
    core::CemiFrame& cemi = frame->value;
    RouteEvent event;
    event.payload = std::move(cemi.telegram.payload);
    event.received_from = received_from;
    event.source = cemi.telegram.source;
    event.destination = cemi.telegram.destination;
    event.apci = cemi.telegram.apci;
    event.message_code = cemi.message_code;
    return std::optional<RouteEvent>(std::move(event));
}

std::expected<asio::ip::udp::socket, KnxIpError> bind_routing_send_socket(
    const asio::any_io_executor& executor, const RouteSenderSettings& settings) {
    asio::ip::udp::socket socket(executor);
    std::error_code ec;
    socket.open(asio::ip::udp::v4(), ec);
    if (ec) return std::unexpected(io(ec));
    socket.set_option(asio::ip::multicast::enable_loopback(settings.loopback), ec);
    if (ec) return std::unexpected(io(ec));
    // Refused here rather than handed on: the system reads the option as a signed int, so
    // 4294967295 would arrive as -1, which it takes to mean "the default" instead of refusing.
    if (settings.ttl > kMaxTtl) {
        return std::unexpected(io(std::make_error_code(std::errc::invalid_argument)));
    }
    socket.set_option(asio::ip::multicast::hops(static_cast<int>(settings.ttl)), ec);
    if (ec) return std::unexpected(io(ec));
    if (settings.interface) {
        socket.set_option(asio::ip::multicast::outbound_interface(*settings.interface), ec);
        if (ec) return std::unexpected(io(ec));
    }
    socket.bind(settings.bind, ec);
    if (ec) return std::unexpected(io(ec));
    // Set once here so that concurrent sends never change the socket's mode as they start.
    socket.non_blocking(true, ec);
    if (ec) return std::unexpected(io(ec));
    return socket;
}

std::expected<asio::ip::udp::socket, KnxIpError> bind_routing_socket(
    const asio::any_io_executor& executor, const RouteMonitorSettings& settings) {
    asio::ip::udp::socket socket(executor);
    std::error_code ec;
    socket.open(asio::ip::udp::v4(), ec);
    if (ec) return std::unexpected(io(ec));
    socket.bind(Endpoint(settings.bind, settings.port), ec);
    if (ec) return std::unexpected(io(ec));
    socket.set_option(asio::ip::multicast::enable_loopback(settings.loopback), ec);
    if (ec) return std::unexpected(io(ec));
    socket.set_option(asio::ip::multicast::join_group(
                          settings.group, settings.interface.value_or(asio::ip::address_v4::any())),
                      ec);
    if (ec) return std::unexpected(io(ec));
    return socket;
}

// ---- RouteSender

RouteSender::RouteSender(std::shared_ptr<asio::io_context> context_keepalive,
                         std::unique_ptr<asio::ip::udp::socket> socket, Endpoint group,
                         bool text_overflow)
    : context_keepalive_(std::move(context_keepalive)),
      socket_(std::move(socket)),
      group_(group),
      text_overflow_(text_overflow) {}

asio::awaitable<std::expected<RouteSender, KnxIpError>> RouteSender::bind(
    RouteSenderSettings settings) {
    auto socket = bind_routing_send_socket(co_await asio::this_coro::executor, settings);
    if (!socket) co_return std::unexpected(std::move(socket.error()));
    co_return RouteSender(Runtime::current_context(),
                          std::make_unique<asio::ip::udp::socket>(std::move(*socket)),
                          settings.group, settings.text_overflow);
}

std::expected<Endpoint, KnxIpError> RouteSender::local_addr() const {
    std::error_code ec;
    Endpoint bound = socket_->local_endpoint(ec);
    if (ec) return std::unexpected(io(ec));
    return bound;
}

asio::awaitable<std::expected<std::size_t, KnxIpError>> RouteSender::send_frame(
    const core::CemiFrame& frame) const {
    auto datagram = encode_routing_packet(frame);
    if (!datagram) co_return std::unexpected(std::move(datagram.error()));
    auto [ec, sent] = co_await socket_->async_send_to(asio::buffer(*datagram), group_, use_nothrow);
    if (ec) co_return std::unexpected(io(ec));
    co_return sent;
}

asio::awaitable<std::expected<std::size_t, KnxIpError>> RouteSender::send_group_write(
    core::IndividualAddress source, core::GroupAddress destination,
    core::GroupPayload payload) const {
    auto frame = routed_group_write(source, destination, std::move(payload));
    if (!frame) co_return std::unexpected(std::move(frame.error()));
    co_return co_await send_frame(*frame);
}

std::expected<std::optional<std::size_t>, KnxIpError> RouteSender::try_send_group_write(
    core::IndividualAddress source, core::GroupAddress destination,
    core::GroupPayload payload) const {
    auto frame = routed_group_write(source, destination, std::move(payload));
    if (!frame) return std::unexpected(std::move(frame.error()));
    auto datagram = encode_routing_packet(*frame);
    if (!datagram) return std::unexpected(std::move(datagram.error()));
    // The socket is non-blocking (see bind_routing_send_socket), so this never waits.
    std::error_code ec;
    const std::size_t sent = socket_->send_to(asio::buffer(*datagram), group_, 0, ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        return std::optional<std::size_t>();
    }
    if (ec) return std::unexpected(io(ec));
    return std::optional<std::size_t>(sent);
}

asio::awaitable<std::expected<std::size_t, KnxIpError>> RouteSender::send_group_write_prefixed(
    core::IndividualAddress source, core::GroupAddress destination,
    core::GroupPayload payload) const {
    co_return co_await send_group_write(source, destination, std::move(payload));
}

asio::awaitable<std::expected<std::size_t, KnxIpError>> RouteSender::send_group_write_text(
    core::IndividualAddress source, core::GroupAddress destination,
    core::GroupPayload payload) const {
    co_return co_await send_group_write(source, destination, std::move(payload));
}

// ---- RouteQueue

namespace {
// A wake-up token: one pending token is enough, a stale one only costs the waiter another look.
using Wakeup = asio::experimental::concurrent_channel<void(std::error_code, bool)>;

void wake(const std::shared_ptr<Wakeup>& wakeup) {
    if (wakeup) wakeup->try_send(std::error_code(), true);
}
}  // namespace

struct RouteQueue::State {
    explicit State(std::size_t capacity) : capacity(std::max<std::size_t>(capacity, 1)) {}

    mutable std::mutex mutex;
    const std::size_t capacity;
    std::deque<RouteItem> items;
    bool finished = false;   // the producer will push nothing more
    bool abandoned = false;  // the consumer will take nothing more
    // Created on first wait, on the waiter's executor.
    std::shared_ptr<Wakeup> producer_wakeup;
    std::shared_ptr<Wakeup> consumer_wakeup;

    // Caller holds the mutex.
    std::optional<Taken> take_locked() {
        if (!items.empty()) {
            Taken taken{Taken::Kind::Item, std::move(items.front())};
            items.pop_front();
            wake(producer_wakeup);
            return taken;
        }
        if (finished) return Taken{Taken::Kind::Ended, std::nullopt};
        return std::nullopt;
    }
};

RouteQueue::RouteQueue(std::size_t capacity) : state_(std::make_shared<State>(capacity)) {}

RouteQueue::~RouteQueue() = default;

asio::awaitable<bool> RouteQueue::push(RouteItem item) {
    auto executor = co_await asio::this_coro::executor;
    for (;;) {
        std::shared_ptr<Wakeup> wakeup;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->abandoned) co_return false;
            if (state_->items.size() < state_->capacity) {
                state_->items.push_back(std::move(item));
                wake(state_->consumer_wakeup);
                co_return true;
            }
            if (!state_->producer_wakeup) {
                state_->producer_wakeup = std::make_shared<Wakeup>(executor, 1);
            }
            wakeup = state_->producer_wakeup;
        }
        auto [ec, woken] = co_await wakeup->async_receive(use_nothrow);
        (void)woken;
        if (ec) co_return false;
    }
}

void RouteQueue::finish() {
    std::lock_guard lock(state_->mutex);
    state_->finished = true;
    wake(state_->consumer_wakeup);
}

asio::awaitable<RouteQueue::Taken> RouteQueue::pop(std::optional<Clock::time_point> deadline) {
    auto executor = co_await asio::this_coro::executor;
    for (;;) {
        std::shared_ptr<Wakeup> wakeup;
        {
            std::lock_guard lock(state_->mutex);
            if (auto taken = state_->take_locked()) co_return std::move(*taken);
            if (!state_->consumer_wakeup) {
                state_->consumer_wakeup = std::make_shared<Wakeup>(executor, 1);
            }
            wakeup = state_->consumer_wakeup;
        }
        if (!deadline) {
            co_await wakeup->async_receive(use_nothrow);
            continue;
        }
        if (Clock::now() >= *deadline) co_return Taken{Taken::Kind::TimedOut, std::nullopt};
        // Only the wake-up token races the timer; items are taken under the lock, so a timeout
        // never swallows one.
        auto woken = co_await until(*deadline, wakeup->async_receive(use_nothrow));
        if (!woken) {
            std::lock_guard lock(state_->mutex);
            if (auto taken = state_->take_locked()) co_return std::move(*taken);
            co_return Taken{Taken::Kind::TimedOut, std::nullopt};
        }
    }
}

std::optional<RouteQueue::Taken> RouteQueue::try_pop() {
    std::lock_guard lock(state_->mutex);
    return state_->take_locked();
}

void RouteQueue::abandon() {
    std::deque<RouteItem> dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->abandoned = true;
        dropped.swap(state_->items);
        wake(state_->producer_wakeup);
    }
}

std::size_t RouteQueue::size() const {
    std::lock_guard lock(state_->mutex);
    return state_->items.size();
}

// ---- RouteMonitor

// Shared by a monitor and its task. The task starts every socket operation on `strand`, so the
// monitor stops it from there without racing it.
struct RouteMonitor::TaskControl {
    TaskControl(asio::strand<asio::any_io_executor> strand, asio::ip::udp::socket socket)
        : strand(std::move(strand)), socket(std::move(socket)) {}

    asio::strand<asio::any_io_executor> strand;
    asio::ip::udp::socket socket;
    std::atomic<bool> stop{false};
};

asio::awaitable<void> RouteMonitor::run(std::shared_ptr<TaskControl> control,
                                        std::shared_ptr<RouteQueue> queue) {
    // The stream ends after what is queued, however the task ends.
    struct FinishQueue {
        RouteQueue& queue;
        ~FinishQueue() { queue.finish(); }
    } finish_queue{*queue};

    std::array<std::uint8_t, kReceiveBufferSize> buffer;
    while (!control->stop.load()) {
        Endpoint sender;
        auto [ec, length] =
            co_await control->socket.async_receive_from(asio::buffer(buffer), sender, use_nothrow);
        if (ec || control->stop.load()) break;
        auto decoded = decode_routing_packet(core::Octets(buffer.data(), length), sender);
        if (decoded && !decoded->has_value()) continue;
        RouteItem item = decoded ? RouteItem(std::move(**decoded))
                                 : RouteItem(std::unexpect, std::move(decoded.error()));
        if (!co_await queue->push(std::move(item))) break;
    }
    std::error_code ignored;
    control->socket.close(ignored);
}

RouteMonitor::RouteMonitor(std::shared_ptr<asio::io_context> context_keepalive,
                           std::shared_ptr<TaskControl> task, std::shared_ptr<RouteQueue> queue)
    : context_keepalive_(std::move(context_keepalive)),
      task_(std::move(task)),
      queue_(std::move(queue)) {}

asio::awaitable<std::expected<RouteMonitor, KnxIpError>> RouteMonitor::bind(
    RouteMonitorSettings settings) {
    auto executor = co_await asio::this_coro::executor;
    auto socket = bind_routing_socket(executor, settings);
    if (!socket) co_return std::unexpected(std::move(socket.error()));
    auto task = std::make_shared<TaskControl>(asio::make_strand(executor), std::move(*socket));
    auto queue = std::make_shared<RouteQueue>(kRouteQueueCapacity);
    asio::co_spawn(task->strand, run(task, queue), asio::detached);
    co_return RouteMonitor(Runtime::current_context(), std::move(task), std::move(queue));
}

RouteMonitor& RouteMonitor::operator=(RouteMonitor&& other) noexcept {
    if (this != &other) {
        stop();
        queue_ = std::move(other.queue_);
        task_ = std::move(other.task_);
        context_keepalive_ = std::move(other.context_keepalive_);
    }
    return *this;
}

RouteMonitor::~RouteMonitor() {
    stop();
}

void RouteMonitor::stop() {
    if (!task_) return;
    task_->stop.store(true);
    // Wakes a task waiting for room in the queue; one waiting for a datagram is woken by the
    // cancel. If the runtime is already shut down, the task never resumes and is released with
    // the io_context.
    queue_->abandon();
    asio::post(task_->strand, [task = task_] {
        std::error_code ignored;
        task->socket.cancel(ignored);
    });
    task_.reset();
    queue_.reset();
}

// ---- RouteEvents

namespace {

RouteEvents::Next next_of(RouteQueue::Taken taken) {
    using Next = RouteEvents::Next;
    switch (taken.kind) {
        case RouteQueue::Taken::Kind::Item:
            if (*taken.item) return Next{Next::Kind::Event, std::move(**taken.item), std::nullopt};
            return Next{Next::Kind::Error, std::nullopt, std::move(taken.item->error())};
        case RouteQueue::Taken::Kind::Ended:
            break;
        case RouteQueue::Taken::Kind::TimedOut:
            return Next{Next::Kind::TimedOut, std::nullopt, std::nullopt};
    }
    return Next{Next::Kind::Ended, std::nullopt, std::nullopt};
}

}  // namespace

asio::awaitable<RouteEvents::Next> RouteEvents::next(std::optional<Clock::time_point> deadline) {
    co_return next_of(co_await monitor_.queue_->pop(deadline));
}

std::optional<RouteEvents::Next> RouteEvents::try_next() {
    auto taken = monitor_.queue_->try_pop();
    if (!taken) return std::nullopt;
    return next_of(std::move(*taken));
}

std::size_t RouteEvents::queued() const {
    return monitor_.queue_->size();
}

}  // namespace tavrel::knxip
