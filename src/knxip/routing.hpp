// KNXnet/IP routing: cEMI frames carried as ROUTING_INDICATION datagrams to and from an IPv4
// multicast group. `RouteSender` sends GroupValueWrite telegrams, one datagram each, with no
// connection or acknowledgement. `RouteMonitor` joins the group and runs a task that decodes every
// datagram into a bounded queue read through `RouteEvents`.
//
// Threading contract:
// - `bind`, the sends and `RouteEvents::next` are coroutines meant to run on a client's runtime
//   (runtime.hpp; a blocking caller uses `Runtime::block_on`). The sender or stream must outlive
//   each operation it runs.
// - Sends need only shared use of a sender: it has no mutable state and each send is one
//   datagram.
// - The monitor task runs on the runtime's worker threads from `bind` until the monitor is
//   destroyed or its socket fails, whether or not anyone is reading. It shares only the bounded
//   queue (internally synchronised) with the consumer. One consumer reads a stream at a time.
// - Senders and monitors keep the io_context alive, so they may be destroyed before or after the
//   runtime is shut down. Destroying a monitor stops its task.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/ip/address_v4.hpp>
#include <asio/ip/udp.hpp>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>

#include "core/address.hpp"
#include "core/cemi.hpp"
#include "core/knxnetip.hpp"
#include "knxip/error.hpp"
#include "knxip/runtime.hpp"
#include "knxip/transport.hpp"

namespace tavrel::knxip {

struct RouteSenderSettings {
    std::uint32_t ttl = 1;  // the system accepts 0 to 255; anything larger fails with Io
    Endpoint bind{asio::ip::address_v4::any(), 0};
    Endpoint group{asio::ip::make_address_v4("224.0.23.12"), 3671};
    std::optional<asio::ip::address_v4> interface;  // absent: the system chooses
    bool loopback = false;                          // whether this host hears its own sends
    // Text-overflow policy for the payload composition of text rows; carried, not used here.
    bool text_overflow = false;
};

struct RouteMonitorSettings {
    asio::ip::address_v4 group = asio::ip::make_address_v4("224.0.23.12");
    asio::ip::address_v4 bind = asio::ip::address_v4::any();
    std::uint16_t port = 3671;
    std::optional<asio::ip::address_v4> interface;  // where to join; absent: 0.0.0.0
    bool loopback = false;
};

// One routing indication heard on the group.
struct RouteEvent {
    core::GroupPayload payload = core::GroupPayload::absent();
    Endpoint received_from;
    core::IndividualAddress source;
    core::GroupAddress destination;
    core::GroupApci apci = core::GroupApci::Read;
    std::uint8_t message_code = 0;

    friend bool operator==(const RouteEvent&, const RouteEvent&) = default;
};

// A datagram on the group that could not be decoded is an error item, not a silent drop.
using RouteItem = std::expected<RouteEvent, KnxIpError>;

inline constexpr std::size_t kRouteQueueCapacity = 64;

// The datagram carrying `frame`: header with ROUTING_INDICATION, then the encoded frame.
std::expected<core::Buffer, KnxIpError> encode_routing_packet(const core::CemiFrame& frame);

// The GroupValueWrite a router multicasts: an L_Data.ind, since every router and device on the
// group hears it as an indication.
std::expected<core::CemiFrame, KnxIpError> routed_group_write(core::IndividualAddress source,
                                                              core::GroupAddress destination,
                                                              core::GroupPayload payload);

// The event a datagram carries; nullopt for another KNXnet/IP service; Core for a datagram that is
// not KNXnet/IP, a malformed frame or octets after the frame.
std::expected<std::optional<RouteEvent>, KnxIpError> decode_routing_packet(
    core::Octets datagram, const Endpoint& received_from);

// The socket set-ups of the two `bind` operations; every failing step is Io and leaves nothing
// open. No address-reuse option is set, so a monitor cannot share a port already held.
std::expected<asio::ip::udp::socket, KnxIpError> bind_routing_send_socket(
    const asio::any_io_executor& executor, const RouteSenderSettings& settings);
std::expected<asio::ip::udp::socket, KnxIpError> bind_routing_socket(
    const asio::any_io_executor& executor, const RouteMonitorSettings& settings);

class RouteSender {
  public:
    static asio::awaitable<std::expected<RouteSender, KnxIpError>> bind(
        RouteSenderSettings settings);

    RouteSender(RouteSender&&) noexcept = default;
    RouteSender& operator=(RouteSender&&) = delete;

    // Encodes the frame and sends it once to the group; the octets the system reports sent.
    asio::awaitable<std::expected<std::size_t, KnxIpError>> send_frame(
        const core::CemiFrame& frame) const;

    // A GroupValueWrite L_Data.ind of an already composed payload. The prefixed and text forms
    // take the payload their composition produced (a fixed prefix followed by text, or a
    // terminated text); on the wire all three are the same telegram.
    asio::awaitable<std::expected<std::size_t, KnxIpError>> send_group_write(
        core::IndividualAddress source, core::GroupAddress destination,
        core::GroupPayload payload) const;
    asio::awaitable<std::expected<std::size_t, KnxIpError>> send_group_write_prefixed(
        core::IndividualAddress source, core::GroupAddress destination,
        core::GroupPayload payload) const;
    asio::awaitable<std::expected<std::size_t, KnxIpError>> send_group_write_text(
        core::IndividualAddress source, core::GroupAddress destination,
        core::GroupPayload payload) const;

    // The send of `send_group_write` tried at once on the calling thread, which need not be one
    // of the runtime's: a datagram socket almost always has room, and handing every send to a
    // worker thread and back costs far more than the send. nullopt when the socket cannot take
    // the datagram without waiting; the caller then awaits `send_group_write` instead.
    std::expected<std::optional<std::size_t>, KnxIpError> try_send_group_write(
        core::IndividualAddress source, core::GroupAddress destination,
        core::GroupPayload payload) const;

    // The policy the composition of text payloads must apply (`truncate`).
    bool text_overflow() const { return text_overflow_; }
    const Endpoint& group() const { return group_; }
    std::expected<Endpoint, KnxIpError> local_addr() const;

  private:
    RouteSender(std::shared_ptr<asio::io_context> context_keepalive,
                std::unique_ptr<asio::ip::udp::socket> socket, Endpoint group, bool text_overflow);

    // Declared first so the io_context outlives the socket.
    std::shared_ptr<asio::io_context> context_keepalive_;
    std::unique_ptr<asio::ip::udp::socket> socket_;
    Endpoint group_;
    bool text_overflow_ = false;
};

// The bounded queue between a monitor task and its consumer: the producer waits while it holds
// `capacity` items (back-pressure instead of loss; datagrams wait in the system's socket buffer
// meanwhile), the consumer waits while it is empty. The consumer sees the end once the producer
// has finished and every item is taken. One producer, one consumer.
class RouteQueue {
  public:
    explicit RouteQueue(std::size_t capacity);
    ~RouteQueue();

    // Producer side. False when the consumer has gone; the item is then discarded.
    asio::awaitable<bool> push(RouteItem item);
    void finish();

    // Consumer side.
    struct Taken {
        enum class Kind : std::uint8_t { Item, Ended, TimedOut };
        Kind kind;
        std::optional<RouteItem> item;
    };
    // With a deadline, TimedOut once it passes with nothing queued; a deadline already passed
    // takes what is queued without waiting.
    asio::awaitable<Taken> pop(std::optional<Clock::time_point> deadline);
    // What is queued (or the end), without waiting and from any thread; nullopt when empty.
    std::optional<Taken> try_pop();
    void abandon();

    std::size_t size() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// A monitor of the group: its socket, the task decoding what arrives, and the consumer end of the
// task's queue.
class RouteMonitor {
  public:
    // Binds and joins (bind_routing_socket), then starts the task on the runtime of the calling
    // coroutine.
    static asio::awaitable<std::expected<RouteMonitor, KnxIpError>> bind(
        RouteMonitorSettings settings);

    RouteMonitor(RouteMonitor&&) noexcept = default;
    RouteMonitor& operator=(RouteMonitor&&) noexcept;
    ~RouteMonitor();

  private:
    friend class RouteEvents;
    struct TaskControl;

    RouteMonitor(std::shared_ptr<asio::io_context> context_keepalive,
                 std::shared_ptr<TaskControl> task, std::shared_ptr<RouteQueue> queue);
    static asio::awaitable<void> run(std::shared_ptr<TaskControl> task,
                                     std::shared_ptr<RouteQueue> queue);
    void stop();

    // Declared first so the io_context outlives everything bound to it.
    std::shared_ptr<asio::io_context> context_keepalive_;
    std::shared_ptr<TaskControl> task_;
    std::shared_ptr<RouteQueue> queue_;
};

// The stream of a monitor's items; owns the monitor.
class RouteEvents {
  public:
    struct Next {
        enum class Kind : std::uint8_t {
            Event,     // `event` holds the next indication
            Error,     // `error` holds why a datagram could not be decoded; the stream goes on
            Ended,     // the monitor task has finished and everything it queued was taken
            TimedOut,  // the deadline passed first
        };
        Kind kind;
        std::optional<RouteEvent> event;
        std::optional<KnxIpError> error;
    };

    explicit RouteEvents(RouteMonitor monitor) : monitor_(std::move(monitor)) {}

    asio::awaitable<Next> next(std::optional<Clock::time_point> deadline = std::nullopt);
    // What is queued (or the end), without waiting and from any thread; nullopt when empty.
    std::optional<Next> try_next();
    // Items waiting to be taken.
    std::size_t queued() const;

  private:
    RouteMonitor monitor_;
};

}  // namespace tavrel::knxip
