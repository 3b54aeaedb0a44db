// A KNXnet/IP tunnelling client: one CONNECT_REQUEST exchange with a gateway, group telegrams sent
// as TUNNELLING_REQUESTs and confirmed by the gateway's TUNNELLING_ACK, a receive loop that
// acknowledges and publishes what the gateway tunnels to us, monitors over those publications,
// and an orderly DISCONNECT_REQUEST.
//
// Threading contract:
// - Every operation here is a coroutine meant to run on the client's runtime (see runtime.hpp; a
//   blocking caller uses `Runtime::block_on`). The client must outlive each operation it runs.
// - Callers reach one client one at a time: the sending operations need exclusive use (they advance
//   the sequence counter); `disconnect`, `monitor` and the accessors need shared use. The owner
//   serialises with its own lock; nothing inside is locked.
// - The receive loop runs on the runtime's worker threads from the connect until the client is
//   destroyed (or its socket fails), whether or not a caller is waiting. It shares only the socket
//   and the internally synchronised broadcast channels with callers.
// - Destroying the client stops the loop and sends nothing. It may happen before or after the
//   runtime is shut down.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <vector>

#include "core/address.hpp"
#include "core/cemi.hpp"
#include "core/knxnetip.hpp"
#include "knxip/broadcast.hpp"
#include "knxip/error.hpp"
#include "knxip/reconnect.hpp"
#include "knxip/runtime.hpp"
#include "knxip/telegram.hpp"
#include "knxip/transport.hpp"

namespace tavrel::knxip {

struct TunnelOptions {
    // Wait for the CONNECT_RESPONSE, for each TUNNELLING_ACK and for the DISCONNECT_RESPONSE.
    Clock::duration ack_timeout = std::chrono::seconds(1);
    std::optional<ReconnectPolicy> reconnect;  // absent: one attempt
    // Every datagram goes here, and only datagrams from exactly here are accepted. IPv4 only, as
    // are the endpoints below.
    Endpoint server_control_endpoint;
    Endpoint local_bind_endpoint{asio::ip::address_v4::any(), 0};
    std::optional<Endpoint>
        control_endpoint;                   // announced in the control HPAI; absent: bound address
    std::optional<Endpoint> data_endpoint;  // announced in the data HPAI; absent: bound address
    // Stored for the payload composition of writes; the tunnel itself does not use it.
    bool text_overflow = false;
    // Keep-alive, since gateways drop a tunnel that stays silent for 120 s: a
    // CONNECTIONSTATE_REQUEST every `heartbeat_interval` while the gateway answers; an unanswered
    // one is repeated at once. After `heartbeat_attempts` requests in a row without a status-0
    // answer within `heartbeat_timeout` each, the connection counts as lost. A zero interval sends
    // none.
    Clock::duration heartbeat_interval = std::chrono::seconds(60);
    Clock::duration heartbeat_timeout = std::chrono::seconds(10);
    unsigned heartbeat_attempts = 3;
};

struct ConnectResponse {
    std::uint8_t channel_id = 0;
    core::IndividualAddress individual_address;
};

// Channel capacities.
inline constexpr std::size_t kAckCapacity = 16;
inline constexpr std::size_t kEventCapacity = 64;
inline constexpr std::size_t kConnectionStateCapacity = 16;
inline constexpr std::size_t kDisconnectCapacity = 16;

// Wire composition shared by the connect, send and disconnect paths.
std::expected<core::Buffer, KnxIpError> encode_knxnetip(std::uint16_t service_type,
                                                        core::Octets body);
std::expected<core::Buffer, KnxIpError> encode_connect_request(const Endpoint& control,
                                                               const Endpoint& data);
std::expected<ConnectResponse, KnxIpError> decode_connect_response(core::Octets datagram);
std::expected<core::Buffer, KnxIpError> encode_tunnelling_request(std::uint8_t channel_id,
                                                                  std::uint8_t sequence,
                                                                  const core::CemiFrame& frame);
std::expected<core::Buffer, KnxIpError> encode_disconnect_request(std::uint8_t channel_id,
                                                                  const Endpoint& control);
std::expected<core::Buffer, KnxIpError> encode_connection_state_request(std::uint8_t channel_id,
                                                                        const Endpoint& control);

// One item of a monitor stream.
struct MonitorItem {
    enum class Kind : std::uint8_t {
        Event,     // `event` holds the next telegram
        Lagged,    // `error` is MonitorLagged; events were lost, the stream goes on with the
                   // oldest one still held
        Ended,     // the client is gone and its receive loop has finished
        TimedOut,  // the deadline passed first
    };
    Kind kind;
    std::optional<GroupEvent> event;
    std::optional<KnxIpError> error;
};

// An independent subscription to a tunnel's group events; sees only events published after it
// was created. It may outlive the client (it then ends).
class TunnelMonitor {
  public:
    explicit TunnelMonitor(BroadcastReceiver<GroupEvent> receiver)
        : receiver_(std::move(receiver)) {}

    // A deadline already passed takes what is buffered without waiting.
    asio::awaitable<MonitorItem> next(std::optional<Clock::time_point> deadline = std::nullopt);
    // What is buffered, without waiting and from any thread; nullopt when nothing is.
    std::optional<MonitorItem> try_next();

  private:
    BroadcastReceiver<GroupEvent> receiver_;
};

class TunnelClient {
  public:
    // One attempt without a reconnect policy (its error returned unchanged); with one, retries with
    // back-off and records the lifecycle events.
    static asio::awaitable<std::expected<TunnelClient, KnxIpError>> connect_with_options(
        TunnelOptions options);
    // One attempt; `events` become the new client's lifecycle events.
    static asio::awaitable<std::expected<TunnelClient, KnxIpError>> connect_once(
        std::vector<ConnectionEvent> events, TunnelOptions options);

    TunnelClient(TunnelClient&&) noexcept;
    TunnelClient& operator=(TunnelClient&&) = delete;
    TunnelClient(const TunnelClient&) = delete;
    TunnelClient& operator=(const TunnelClient&) = delete;
    ~TunnelClient();

    // Sends the frame once with the next sequence number and completes on the matching
    // acknowledgement (AckTimeout otherwise). Once the heartbeat has found the connection lost,
    // this and every operation below fail at once with HeartbeatTimeout. Exclusive use.
    asio::awaitable<std::expected<void, KnxIpError>> send_tunnelling_frame(core::CemiFrame frame);
    // GroupValueWrite / GroupValueResponse of an already composed payload, from our individual
    // address. Exclusive use.
    asio::awaitable<std::expected<void, KnxIpError>> group_value_write(
        core::GroupAddress destination, core::GroupPayload payload);
    asio::awaitable<std::expected<void, KnxIpError>> group_value_response(
        core::GroupAddress destination, core::GroupPayload payload);
    // Completes on the acknowledgement; the answer arrives later as a GroupEvent. Exclusive use.
    asio::awaitable<std::expected<void, KnxIpError>> group_read_request(
        core::GroupAddress destination);
    // DISCONNECT_REQUEST, completed by the gateway's DISCONNECT_RESPONSE. Leaves the loop running.
    asio::awaitable<std::expected<void, KnxIpError>> disconnect() const;

    TunnelMonitor monitor() const { return TunnelMonitor(events_.subscribe()); }

    std::uint8_t channel_id() const { return channel_id_; }
    core::IndividualAddress individual_address() const { return individual_address_; }
    bool text_overflow() const { return text_overflow_; }
    const std::vector<ConnectionEvent>& lifecycle_events() const { return lifecycle_events_; }
    Clock::duration ack_timeout() const { return ack_timeout_; }
    const Endpoint& server_control_endpoint() const { return server_; }
    // The sequence number the next send will use.
    std::uint8_t next_sequence() const { return sequence_; }
    // Whether the heartbeat has given the connection up.
    bool connection_lost() const;

    // What the client shares with its background tasks (defined with them).
    struct LoopControl;

  private:
    // Sends a frame just built, or reports why it could not be built. Exclusive use.
    asio::awaitable<std::expected<void, KnxIpError>> send_built(
        std::expected<core::CemiFrame, core::KnxError> frame);

    using Socket = asio::ip::udp::socket;

    TunnelClient(std::shared_ptr<asio::io_context> context_keepalive,
                 std::shared_ptr<Socket> socket, std::shared_ptr<LoopControl> loop,
                 std::vector<ConnectionEvent> events, const TunnelOptions& options,
                 Endpoint control_hpai, ConnectResponse response, BroadcastSender<std::uint8_t> ack,
                 BroadcastSender<GroupEvent> events_tx,
                 BroadcastSender<std::uint8_t> connection_state,
                 BroadcastSender<std::uint8_t> disconnect);

    // Declared first so the io_context outlives the socket and the loop handle.
    std::shared_ptr<asio::io_context> context_keepalive_;
    std::shared_ptr<Socket> socket_;
    std::shared_ptr<LoopControl> loop_;
    std::vector<ConnectionEvent> lifecycle_events_;
    Clock::duration ack_timeout_;
    Endpoint server_;
    Endpoint control_hpai_;
    BroadcastSender<std::uint8_t> ack_;
    BroadcastSender<GroupEvent> events_;
    BroadcastSender<std::uint8_t> connection_state_;
    BroadcastSender<std::uint8_t> disconnect_;
    core::IndividualAddress individual_address_;
    bool text_overflow_;
    std::uint8_t channel_id_;
    std::uint8_t sequence_ = 0;
};

}  // namespace tavrel::knxip
