#include "knxip/tunnel.hpp"

#include <algorithm>
#include <array>
#include <asio/buffer.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/this_coro.hpp>

namespace tavrel::knxip {

using core::Buffer;
using core::Octets;

namespace {

constexpr std::size_t kDatagramBuffer = 1500;

Clock::time_point deadline_after(Clock::duration wait) {
    auto now = Clock::now();
    if (wait > Clock::time_point::max() - now) return Clock::time_point::max();
    return now + wait;
}

std::expected<void, KnxIpError> append_hpai(Buffer& buffer, const Endpoint& endpoint) {
    if (!endpoint.address().is_v4()) return std::unexpected(KnxIpError::unsupported_ipv6());
    core::Hpai hpai;
    hpai.protocol = core::Hpai::kIpv4Udp;
    hpai.address = endpoint.address().to_v4().to_bytes();
    hpai.port = endpoint.port();
    if (auto ok = hpai.encode(buffer); !ok) return std::unexpected(KnxIpError::core(ok.error()));
    return {};
}

}  // namespace

std::expected<Buffer, KnxIpError> encode_knxnetip(std::uint16_t service_type, Octets body) {
    if (body.size() >= 65530)
        return std::unexpected(KnxIpError::invalid_response("KNXnet/IP frame too long"));
    Buffer datagram;
    datagram.reserve(core::KnxNetIpHeader::kSize + body.size());
    auto total = static_cast<std::uint16_t>(body.size() + core::KnxNetIpHeader::kSize);
    if (auto ok = core::KnxNetIpHeader::encode(service_type, total, datagram); !ok) {
        return std::unexpected(KnxIpError::core(ok.error()));
    }
    datagram.insert(datagram.end(), body.begin(), body.end());
    return datagram;
}

std::expected<Buffer, KnxIpError> encode_connect_request(const Endpoint& control,
                                                         const Endpoint& data) {
    Buffer body;
    if (auto ok = append_hpai(body, control); !ok) return std::unexpected(ok.error());
    if (auto ok = append_hpai(body, data); !ok) return std::unexpected(ok.error());
    // Connection request information: tunnel connection on the link layer.
    body.insert(body.end(), {0x04, 0x04, 0x02, 0x00});
    return encode_knxnetip(core::service::kConnectRequest, body);
}

std::expected<ConnectResponse, KnxIpError> decode_connect_response(Octets datagram) {
    auto header = core::KnxNetIpHeader::decode(datagram);
    if (!header) return std::unexpected(KnxIpError::core(header.error()));
    if (header->value.service_type != core::service::kConnectResponse) {
        return std::unexpected(KnxIpError::invalid_response("expected connect response"));
    }
    Octets body = header->rest;
    if (body.size() < 2) {
        return std::unexpected(KnxIpError::invalid_response("truncated connect response"));
    }
    if (body[1] != 0x00) {
        return std::unexpected(KnxIpError::invalid_response("connect response rejected"));
    }
    // The announced data endpoint is checked for form only: all traffic goes to the control
    // endpoint we were given.
    auto hpai = core::Hpai::decode(body.subspan(2));
    if (!hpai) {
        return std::unexpected(
            KnxIpError::invalid_response("connect response has no data endpoint"));
    }
    auto crd = core::TunnellingCrd::decode(hpai->rest);
    if (!crd) {
        return std::unexpected(KnxIpError::invalid_response(
            "connect response has no tunnelling connection response data"));
    }
    return ConnectResponse{body[0], crd->value.individual_address};
}

std::expected<Buffer, KnxIpError> encode_tunnelling_request(std::uint8_t channel_id,
                                                            std::uint8_t sequence,
                                                            const core::CemiFrame& frame) {
    Buffer body;
    if (auto ok = core::ConnectionHeader{channel_id, sequence, 0}.encode(body); !ok) {
        return std::unexpected(KnxIpError::core(ok.error()));
    }
    if (auto ok = frame.encode(body); !ok) return std::unexpected(KnxIpError::core(ok.error()));
    return encode_knxnetip(core::service::kTunnellingRequest, body);
}

std::expected<Buffer, KnxIpError> encode_disconnect_request(std::uint8_t channel_id,
                                                            const Endpoint& control) {
    Buffer body{channel_id, 0x00};
    if (auto ok = append_hpai(body, control); !ok) return std::unexpected(ok.error());
    return encode_knxnetip(core::service::kDisconnectRequest, body);
}

std::expected<Buffer, KnxIpError> encode_connection_state_request(std::uint8_t channel_id,
                                                                  const Endpoint& control) {
    Buffer body{channel_id, 0x00};
    if (auto ok = append_hpai(body, control); !ok) return std::unexpected(ok.error());
    return encode_knxnetip(core::service::kConnectionStateRequest, body);
}

namespace {

MonitorItem monitor_item(Received<GroupEvent> got) {
    using Kind = Received<GroupEvent>::Kind;
    switch (got.kind) {
        case Kind::Value:
            return MonitorItem{MonitorItem::Kind::Event, std::move(got.value), std::nullopt};
        case Kind::Lagged:
            return MonitorItem{MonitorItem::Kind::Lagged, std::nullopt,
                               KnxIpError::monitor_lagged()};
        case Kind::Closed:
            return MonitorItem{MonitorItem::Kind::Ended, std::nullopt, std::nullopt};
        case Kind::Empty:
        case Kind::TimedOut:
            break;
    }
    return MonitorItem{MonitorItem::Kind::TimedOut, std::nullopt, std::nullopt};
}

}  // namespace

asio::awaitable<MonitorItem> TunnelMonitor::next(std::optional<Clock::time_point> deadline) {
    co_return monitor_item(co_await receiver_.recv(deadline));
}

std::optional<MonitorItem> TunnelMonitor::try_next() {
    auto got = receiver_.try_recv();
    if (got.kind == Received<GroupEvent>::Kind::Empty) return std::nullopt;
    return monitor_item(std::move(got));
}

// Shared between the client and its receive loop. The loop's socket operations are all started on
// `strand`, so stopping it from there never races with them.
struct TunnelClient::LoopControl {
    explicit LoopControl(asio::strand<asio::any_io_executor> strand)
        : strand(strand), heartbeat_timer(strand) {}
    asio::strand<asio::any_io_executor> strand;
    std::atomic<bool> stop{false};
    // The heartbeat's pause between requests, cancelled on the strand when the client goes.
    asio::steady_timer heartbeat_timer;
    std::atomic<bool> connection_lost{false};
};

namespace {

struct LoopChannels {
    BroadcastSender<std::uint8_t> ack;
    BroadcastSender<GroupEvent> events;
    BroadcastSender<std::uint8_t> connection_state;
    BroadcastSender<std::uint8_t> disconnect;
};

void handle_datagram(asio::ip::udp::socket& socket, const Endpoint& server, std::uint8_t channel_id,
                     const LoopChannels& out, Octets datagram) {
    auto header = core::KnxNetIpHeader::decode(datagram);
    if (!header) return;
    Octets body = header->rest;
    switch (header->value.service_type) {
        case core::service::kTunnellingRequest: {
            auto connection = core::ConnectionHeader::decode(body);
            if (!connection || connection->value.channel_id != channel_id) return;
            // Acknowledge before judging the content: the gateway repeats anything unanswered,
            // whether or not we can use it.
            const std::uint8_t ack[] = {0x06, 0x10,       0x04,
                                        0x21, 0x00,       0x0A,
                                        0x04, channel_id, connection->value.sequence_counter,
                                        0x00};
            std::error_code ignored;
            socket.send_to(asio::buffer(ack), server, 0, ignored);
            auto frame = core::CemiFrame::decode(connection->rest);
            if (!frame || !frame->rest.empty()) return;
            out.events.publish(GroupEvent::from_frame(std::move(frame->value)));
            return;
        }
        case core::service::kTunnellingAck: {
            auto connection = core::ConnectionHeader::decode(body);
            if (!connection || connection->value.status != 0x00 ||
                connection->value.channel_id != channel_id) {
                return;
            }
            out.ack.publish(connection->value.sequence_counter);
            return;
        }
        case core::service::kDisconnectResponse:
            if (body.size() >= 2 && body[0] == channel_id) out.disconnect.publish(body[1]);
            return;
        case core::service::kConnectionStateResponse:
            if (body.size() >= 2 && body[0] == channel_id) out.connection_state.publish(body[1]);
            return;
        default:
            return;
    }
}

asio::awaitable<void> receive_loop(std::shared_ptr<asio::ip::udp::socket> socket,
                                   std::shared_ptr<const std::atomic<bool>> stop, Endpoint server,
                                   std::uint8_t channel_id, LoopChannels out) {
    std::array<std::uint8_t, kDatagramBuffer> buffer;
    while (!stop->load()) {
        Endpoint sender;
        auto [ec, length] =
            co_await socket->async_receive_from(asio::buffer(buffer), sender, use_nothrow);
        if (ec || stop->load()) co_return;
        // Only the control endpoint we connected to speaks for the gateway.
        if (sender != server) continue;
        handle_datagram(*socket, server, channel_id, out, Octets(buffer.data(), length));
    }
}

struct HeartbeatSettings {
    Clock::duration interval;
    Clock::duration timeout;
    unsigned attempts;
};

// Runs on the loop's strand. Holds only a receiver of the connection-state channel, so it sees
// the channel close once the client and its receive loop are gone, and ends then at the latest.
asio::awaitable<void> heartbeat_loop(std::shared_ptr<asio::ip::udp::socket> socket,
                                     std::shared_ptr<TunnelClient::LoopControl> loop,
                                     Endpoint server, Buffer request,
                                     BroadcastReceiver<std::uint8_t> states,
                                     HeartbeatSettings settings) {
    using Kind = Received<std::uint8_t>::Kind;
    unsigned missed = 0;
    while (!loop->stop.load()) {
        if (missed == 0) {
            loop->heartbeat_timer.expires_at(deadline_after(settings.interval));
            auto [ec] = co_await loop->heartbeat_timer.async_wait(use_nothrow);
            (void)ec;
            if (loop->stop.load()) co_return;
        }
        // Answers to earlier requests must not count for this one.
        for (;;) {
            auto stale = states.try_recv();
            if (stale.kind == Kind::Closed) co_return;
            if (stale.kind == Kind::Empty) break;
        }
        bool answered = false;
        std::error_code send_error;
        socket->send_to(asio::buffer(request), server, 0, send_error);
        if (!send_error) {
            const auto deadline = deadline_after(settings.timeout);
            for (;;) {
                auto got = co_await states.recv(deadline);
                if (got.kind == Kind::Lagged) continue;
                if (got.kind == Kind::Closed) co_return;
                answered = got.kind == Kind::Value && *got.value == 0;
                break;
            }
        }
        if (loop->stop.load()) co_return;
        missed = answered ? 0 : missed + 1;
        if (missed >= settings.attempts) {
            loop->connection_lost.store(true);
            co_return;
        }
    }
}

}  // namespace

asio::awaitable<std::expected<TunnelClient, KnxIpError>> TunnelClient::connect_with_options(
    TunnelOptions options) {
    if (!options.reconnect) co_return co_await connect_once({}, std::move(options));
    const ReconnectPolicy policy = *options.reconnect;
    std::size_t attempt = 1;
    Clock::duration delay = policy.initial_delay;
    std::vector<ConnectionEvent> events;
    for (;;) {
        auto client = co_await connect_once(events, options);
        if (client) {
            if (attempt >= 2) {
                client->lifecycle_events_.push_back(
                    ConnectionEvent::reconnected(attempt, client->channel_id_));
            }
            co_return client;
        }
        if (attempt >= policy.max_attempts) {
            co_return std::unexpected(KnxIpError::reconnect_attempts_exhausted(attempt));
        }
        events.push_back(ConnectionEvent::reconnecting(attempt + 1, delay));
        co_await sleep_until(deadline_after(delay));
        delay = policy.next_delay(delay);
        ++attempt;
    }
}

asio::awaitable<std::expected<TunnelClient, KnxIpError>> TunnelClient::connect_once(
    std::vector<ConnectionEvent> events, TunnelOptions options) {
    using Result = std::expected<TunnelClient, KnxIpError>;
    auto ipv6 = [](const Endpoint& e) { return !e.address().is_v4(); };
    if (ipv6(options.server_control_endpoint) || ipv6(options.local_bind_endpoint) ||
        (options.control_endpoint && ipv6(*options.control_endpoint)) ||
        (options.data_endpoint && ipv6(*options.data_endpoint))) {
        co_return Result(std::unexpect, KnxIpError::unsupported_ipv6());
    }

    auto executor = co_await asio::this_coro::executor;
    auto transport = UdpTransport::bind(executor, options.local_bind_endpoint);
    if (!transport) co_return Result(std::unexpect, transport.error());
    auto bound = transport->local_addr();
    if (!bound) co_return Result(std::unexpect, bound.error());
    auto socket = std::make_shared<Socket>(std::move(transport->socket()));

    const Endpoint control = options.control_endpoint.value_or(*bound);
    const Endpoint data = options.data_endpoint.value_or(*bound);
    auto request = encode_connect_request(control, data);
    if (!request) co_return Result(std::unexpect, request.error());
    auto [send_error, sent] = co_await socket->async_send_to(
        asio::buffer(*request), options.server_control_endpoint, use_nothrow);
    (void)sent;
    if (send_error) co_return Result(std::unexpect, KnxIpError::io(send_error));

    // The first datagram is taken as the answer, whoever sent it.
    std::array<std::uint8_t, kDatagramBuffer> buffer;
    Endpoint sender;
    auto received =
        co_await until(deadline_after(options.ack_timeout),
                       socket->async_receive_from(asio::buffer(buffer), sender, use_nothrow));
    if (!received) co_return Result(std::unexpect, KnxIpError::timeout());
    auto [receive_error, length] = *received;
    if (receive_error) co_return Result(std::unexpect, KnxIpError::io(receive_error));
    auto response = decode_connect_response(Octets(buffer.data(), length));
    if (!response) co_return Result(std::unexpect, response.error());

    // The receivers created with the channels are not kept: until someone subscribes, published
    // values are dropped.
    BroadcastSender<std::uint8_t> ack(kAckCapacity);
    BroadcastSender<GroupEvent> group_events(kEventCapacity);
    BroadcastSender<std::uint8_t> connection_state(kConnectionStateCapacity);
    BroadcastSender<std::uint8_t> disconnect(kDisconnectCapacity);

    auto loop = std::make_shared<LoopControl>(asio::make_strand(executor));
    std::shared_ptr<const std::atomic<bool>> stop(loop, &loop->stop);
    asio::co_spawn(
        loop->strand,
        receive_loop(socket, std::move(stop), options.server_control_endpoint, response->channel_id,
                     LoopChannels{ack, group_events, connection_state, disconnect}),
        asio::detached);
    if (options.heartbeat_interval > Clock::duration::zero()) {
        auto heartbeat = encode_connection_state_request(response->channel_id, control);
        if (!heartbeat) co_return Result(std::unexpect, heartbeat.error());
        asio::co_spawn(
            loop->strand,
            heartbeat_loop(socket, loop, options.server_control_endpoint, std::move(*heartbeat),
                           connection_state.subscribe(),
                           HeartbeatSettings{options.heartbeat_interval, options.heartbeat_timeout,
                                             std::max(options.heartbeat_attempts, 1u)}),
            asio::detached);
    }

    co_return TunnelClient(Runtime::current_context(), std::move(socket), std::move(loop),
                           std::move(events), options, control, *response, std::move(ack),
                           std::move(group_events), std::move(connection_state),
                           std::move(disconnect));
}

TunnelClient::TunnelClient(std::shared_ptr<asio::io_context> context_keepalive,
                           std::shared_ptr<Socket> socket, std::shared_ptr<LoopControl> loop,
                           std::vector<ConnectionEvent> events, const TunnelOptions& options,
                           Endpoint control_hpai, ConnectResponse response,
                           BroadcastSender<std::uint8_t> ack, BroadcastSender<GroupEvent> events_tx,
                           BroadcastSender<std::uint8_t> connection_state,
                           BroadcastSender<std::uint8_t> disconnect)
    : context_keepalive_(std::move(context_keepalive)),
      socket_(std::move(socket)),
      loop_(std::move(loop)),
      lifecycle_events_(std::move(events)),
      ack_timeout_(options.ack_timeout),
      server_(options.server_control_endpoint),
      control_hpai_(control_hpai),
      ack_(std::move(ack)),
      events_(std::move(events_tx)),
      connection_state_(std::move(connection_state)),
      disconnect_(std::move(disconnect)),
      individual_address_(response.individual_address),
      text_overflow_(options.text_overflow),
      channel_id_(response.channel_id) {}

TunnelClient::TunnelClient(TunnelClient&& other) noexcept
    : context_keepalive_(std::move(other.context_keepalive_)),
      socket_(std::move(other.socket_)),
      loop_(std::move(other.loop_)),
      lifecycle_events_(std::move(other.lifecycle_events_)),
      ack_timeout_(other.ack_timeout_),
      server_(other.server_),
      control_hpai_(other.control_hpai_),
      ack_(std::move(other.ack_)),
      events_(std::move(other.events_)),
      connection_state_(std::move(other.connection_state_)),
      disconnect_(std::move(other.disconnect_)),
      individual_address_(other.individual_address_),
      text_overflow_(other.text_overflow_),
      channel_id_(other.channel_id_),
      sequence_(other.sequence_) {}

TunnelClient::~TunnelClient() {
    if (!loop_) return;
    loop_->stop.store(true);
    // Cancelling on the loop's strand wakes its pending receive without racing it; if the runtime
    // is already shut down the loop never resumes and is released with the io_context.
    asio::post(loop_->strand, [socket = socket_, loop = loop_] {
        std::error_code ignored;
        socket->cancel(ignored);
        loop->heartbeat_timer.cancel();
    });
}

bool TunnelClient::connection_lost() const {
    return loop_ && loop_->connection_lost.load();
}

asio::awaitable<std::expected<void, KnxIpError>> TunnelClient::send_tunnelling_frame(
    core::CemiFrame frame) {
    using Result = std::expected<void, KnxIpError>;
    if (connection_lost()) co_return Result(std::unexpect, KnxIpError::heartbeat_timeout());
    const std::uint8_t sequence = sequence_;
    auto datagram = encode_tunnelling_request(channel_id_, sequence, frame);
    if (!datagram) co_return Result(std::unexpect, datagram.error());
    // Subscribed before sending, so an acknowledgement cannot slip past.
    auto acks = ack_.subscribe();
    std::error_code ec;
    socket_->send_to(asio::buffer(*datagram), server_, 0, ec);
    if (ec) co_return Result(std::unexpect, KnxIpError::io(ec));
    sequence_ = static_cast<std::uint8_t>(sequence + 1);
    const auto deadline = deadline_after(ack_timeout_);
    for (;;) {
        auto got = co_await acks.recv(deadline);
        using Kind = Received<std::uint8_t>::Kind;
        switch (got.kind) {
            case Kind::Value:
                if (*got.value == sequence) co_return Result();
                break;
            case Kind::Lagged:
                break;
            case Kind::Closed:
                co_return Result(std::unexpect, KnxIpError::receive_loop_stopped());
            case Kind::Empty:
            case Kind::TimedOut:
                co_return Result(std::unexpect, KnxIpError::ack_timeout());
        }
    }
}

asio::awaitable<std::expected<void, KnxIpError>> TunnelClient::send_built(
    std::expected<core::CemiFrame, core::KnxError> frame) {
    if (!frame) {
        co_return std::expected<void, KnxIpError>(std::unexpect, KnxIpError::core(frame.error()));
    }
    co_return co_await send_tunnelling_frame(std::move(*frame));
}

asio::awaitable<std::expected<void, KnxIpError>> TunnelClient::group_value_write(
    core::GroupAddress destination, core::GroupPayload payload) {
    return send_built(
        core::CemiFrame::group_value_write(individual_address_, destination, std::move(payload)));
}

asio::awaitable<std::expected<void, KnxIpError>> TunnelClient::group_value_response(
    core::GroupAddress destination, core::GroupPayload payload) {
    return send_built(core::CemiFrame::group_value_response(individual_address_, destination,
                                                            std::move(payload)));
}

asio::awaitable<std::expected<void, KnxIpError>> TunnelClient::group_read_request(
    core::GroupAddress destination) {
    co_return co_await send_tunnelling_frame(
        core::CemiFrame::group_value_read(individual_address_, destination));
}

asio::awaitable<std::expected<void, KnxIpError>> TunnelClient::disconnect() const {
    using Result = std::expected<void, KnxIpError>;
    if (connection_lost()) co_return Result(std::unexpect, KnxIpError::heartbeat_timeout());
    auto statuses = disconnect_.subscribe();
    const auto deadline = deadline_after(ack_timeout_);
    auto datagram = encode_disconnect_request(channel_id_, control_hpai_);
    if (!datagram) co_return Result(std::unexpect, datagram.error());
    std::error_code ec;
    socket_->send_to(asio::buffer(*datagram), server_, 0, ec);
    if (ec) co_return Result(std::unexpect, KnxIpError::io(ec));
    for (;;) {
        auto got = co_await statuses.recv(deadline);
        using Kind = Received<std::uint8_t>::Kind;
        switch (got.kind) {
            case Kind::Value:
                if (*got.value == 0) co_return Result();
                co_return Result(std::unexpect, KnxIpError::gateway_status(*got.value));
            case Kind::Lagged:
                break;
            case Kind::Closed:
                co_return Result(std::unexpect, KnxIpError::receive_loop_stopped());
            case Kind::Empty:
            case Kind::TimedOut:
                co_return Result(std::unexpect, KnxIpError::disconnect_timeout());
        }
    }
}

}  // namespace tavrel::knxip
