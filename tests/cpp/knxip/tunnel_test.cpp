// The tunnel against a gateway this test drives by hand on 127.0.0.1.
#include "knxip/tunnel.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <sstream>
#include <string>
#include <thread>

namespace tavrel::knxip {
namespace {

using namespace std::chrono_literals;
using core::Buffer;
using core::GroupAddress;
using core::GroupPayload;
using core::IndividualAddress;
using Kind = KnxIpError::Kind;

Buffer hex(std::string_view text) {
    Buffer out;
    std::istringstream in{std::string(text)};
    std::string octet;
    while (in >> octet) out.push_back(static_cast<std::uint8_t>(std::stoul(octet, nullptr, 16)));
    return out;
}

std::string to_hex(core::Octets octets) {
    std::string out;
    char part[4];
    for (auto o : octets) {
        std::snprintf(part, sizeof part, out.empty() ? "%02X" : " %02X", o);
        out += part;
    }
    return out;
}

std::string port_hex(std::uint16_t port) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X %02X", port >> 8, port & 0xFF);
    return text;
}

// A plain blocking UDP socket on 127.0.0.1 playing the gateway.
class Peer {
  public:
    Peer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;

    Endpoint endpoint() const { return Endpoint(asio::ip::address_v4::loopback(), port_); }
    std::uint16_t port() const { return port_; }

    struct Heard {
        Buffer octets;
        std::uint16_t from_port;
    };
    std::optional<Heard> recv(std::chrono::milliseconds wait = 2000ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
        Buffer buffer(2048);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        auto n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                            reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        last_from_ = ntohs(from.sin_port);
        return Heard{buffer, last_from_};
    }
    void send(const Buffer& octets, std::uint16_t to_port = 0) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(to_port ? to_port : last_from_);
        ::sendto(fd_, octets.data(), octets.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    void send(std::string_view text, std::uint16_t to_port = 0) const { send(hex(text), to_port); }
    std::uint16_t client_port() const { return last_from_; }

  private:
    int fd_;
    std::uint16_t port_ = 0;
    std::uint16_t last_from_ = 0;
};

std::string connect_response(std::uint8_t channel, std::string_view crd = "04 04 11 05") {
    char head[64];
    std::snprintf(head, sizeof head, "06 10 02 06 00 14 %02X 00 08 01 7F 00 00 01 0E 57 ", channel);
    return head + std::string(crd);
}

class TunnelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto started = Runtime::start(2);
        ASSERT_TRUE(started);
        runtime_ = std::move(*started);
    }

    TunnelOptions options(Clock::duration ack_timeout = 300ms) const {
        TunnelOptions o;
        o.ack_timeout = ack_timeout;
        o.server_control_endpoint = gateway_.endpoint();
        return o;
    }

    std::future<std::expected<TunnelClient, KnxIpError>> start_connect(TunnelOptions o) {
        return std::async(std::launch::async, [this, o] {
            return runtime_->block_on(TunnelClient::connect_with_options(o));
        });
    }

    // Connects with the gateway answering channel 0x15 and address 1.1.5.
    std::optional<TunnelClient> connected(TunnelOptions o) {
        auto pending = start_connect(o);
        auto request = gateway_.recv();
        EXPECT_TRUE(request);
        if (!request) return std::nullopt;
        gateway_.send(connect_response(0x15));
        auto client = pending.get();
        EXPECT_TRUE(client) << client.error().display();
        if (!client) return std::nullopt;
        return std::move(*client);
    }

    template <class T>
    T run(asio::awaitable<T> op) {
        return runtime_->block_on(std::move(op));
    }

    // Runs `op` while the gateway acts; returns the op's result.
    template <class T, class Gateway>
    T run_with(asio::awaitable<T> op, Gateway gateway) {
        auto pending =
            std::async(std::launch::async, [&] { return runtime_->block_on(std::move(op)); });
        gateway();
        return pending.get();
    }

    MonitorItem next(TunnelMonitor& m, Clock::duration wait = 1s) {
        return run(m.next(Clock::now() + wait));
    }

    Peer gateway_;
    std::unique_ptr<Runtime> runtime_;
};

TEST_F(TunnelTest, ConnectAnnouncesBoundAddressAndReadsAssignment) {
    auto pending = start_connect(options());
    auto request = gateway_.recv();
    ASSERT_TRUE(request);
    const std::string port = port_hex(request->from_port);
    EXPECT_NE(request->from_port, 0);
    EXPECT_EQ(to_hex(request->octets), "06 10 02 05 00 1A 08 01 00 00 00 00 " + port +
                                           " 08 01 00 00 00 00 " + port + " 04 04 02 00");
    gateway_.send(connect_response(0x15, "04 04 11 FA"));
    auto client = pending.get();
    ASSERT_TRUE(client) << client.error().display();
    EXPECT_EQ(client->channel_id(), 0x15);
    EXPECT_EQ(client->individual_address().display(), "1.1.250");
    EXPECT_TRUE(client->lifecycle_events().empty());
    EXPECT_EQ(client->next_sequence(), 0);
}

TEST_F(TunnelTest, ConnectAnnouncesConfiguredControlEndpoint) {
    auto o = options();
    o.control_endpoint = Endpoint(asio::ip::make_address_v4("192.168.1.50"), 3671);
    o.local_bind_endpoint = Endpoint(asio::ip::address_v4::loopback(), 0);
    auto pending = start_connect(o);
    auto request = gateway_.recv();
    ASSERT_TRUE(request);
    EXPECT_EQ(to_hex(request->octets),
              "06 10 02 05 00 1A 08 01 C0 A8 01 32 0E 57 08 01 7F 00 00 01 " +
                  port_hex(request->from_port) + " 04 04 02 00");
    gateway_.send(connect_response(0x15));
    ASSERT_TRUE(pending.get());
}

TEST_F(TunnelTest, ConnectFailures) {
    struct Case {
        const char* name;
        std::optional<std::string> first_answer;  // nothing: the gateway stays silent
        std::optional<std::string> second_answer;
        Kind kind;
        const char* text;
    };
    const Case cases[] = {
        {"silent gateway", std::nullopt, std::nullopt, Kind::Timeout, "operation timed out"},
        {"rejected", "06 10 02 06 00 08 00 24", std::nullopt, Kind::InvalidResponse,
         "invalid KNXnet/IP response: connect response rejected"},
        {"truncated", "06 10 02 06 00 07 15", std::nullopt, Kind::InvalidResponse,
         "invalid KNXnet/IP response: truncated connect response"},
        {"search response first", "06 10 02 02 00 06", connect_response(0x15),
         Kind::InvalidResponse, "invalid KNXnet/IP response: expected connect response"},
        {"not a header", "06 11 02 06 00 06", std::nullopt, Kind::Core,
         "invalid frame: invalid KNXnet/IP protocol version"},
    };
    for (const auto& c : cases) {
        auto started = Clock::now();
        auto pending = start_connect(options(200ms));
        ASSERT_TRUE(gateway_.recv()) << c.name;
        if (c.first_answer) gateway_.send(*c.first_answer);
        if (c.second_answer) gateway_.send(*c.second_answer);
        auto result = pending.get();
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error().kind(), c.kind) << c.name;
        EXPECT_EQ(result.error().display(), c.text) << c.name;
        if (!c.first_answer) {
            EXPECT_GE(Clock::now() - started, 200ms) << c.name;
        }
    }
}

TEST_F(TunnelTest, Ipv6EndpointRefusedBeforeAnythingIsSent) {
    const Endpoint v6(asio::ip::make_address_v6("::1"), 0);
    for (int which = 0; which < 4; ++which) {
        auto o = options();
        if (which == 0) o.local_bind_endpoint = v6;
        if (which == 1)
            o.server_control_endpoint = Endpoint(asio::ip::make_address_v6("::1"), 3671);
        if (which == 2) o.control_endpoint = v6;
        if (which == 3) o.data_endpoint = v6;
        auto result = run(TunnelClient::connect_with_options(o));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind(), Kind::UnsupportedIpv6) << which;
    }
    EXPECT_FALSE(gateway_.recv(50ms));
}

TEST(TunnelWire, ConnectResponseDecoding) {
    const std::pair<const char*, const char*> cases[] = {
        {"06 10 02 06 00 14 15 00 08 01 7F 00 00 01 0E 57 04 04 11 FA", "21 1.1.250"},
        {"06 10 02 06 00 08 00 24", "invalid KNXnet/IP response: connect response rejected"},
        {"06 10 02 06 00 07 15", "invalid KNXnet/IP response: truncated connect response"},
        {"06 10 02 02 00 08 15 00", "invalid KNXnet/IP response: expected connect response"},
        {"06 10 02 06 00 10 15 00 08 03 7F 00 00 01 0E 57",
         "invalid KNXnet/IP response: connect response has no data endpoint"},
        {"06 10 02 06 00 0E 15 00 08 01 7F 00 00 01",
         "invalid KNXnet/IP response: connect response has no data endpoint"},
        {"06 10 02 06 00 14 15 00 08 01 7F 00 00 01 0E 57 04 03 11 FA",
         "invalid KNXnet/IP response: connect response has no tunnelling connection response "
         "data"},
        {"06 10 02 06 00 12 15 00 08 01 7F 00 00 01 0E 57 04 04",
         "invalid KNXnet/IP response: connect response has no tunnelling connection response "
         "data"},
        {"06 10 02 06 00 14 15", "buffer too short: needed 20 bytes, got 7"},
    };
    for (const auto& [input, outcome] : cases) {
        auto bytes = hex(input);
        auto got = decode_connect_response(bytes);
        std::string text =
            got ? std::to_string(got->channel_id) + " " + got->individual_address.display()
                : got.error().display();
        EXPECT_EQ(text, outcome) << input;
    }
}

TEST(TunnelWire, DatagramComposition) {
    auto frame = core::CemiFrame::group_value_write(IndividualAddress::from_raw(0x1105),
                                                    GroupAddress::from_raw(0x0A03),
                                                    GroupPayload::optimized(1));
    ASSERT_TRUE(frame);
    auto request = encode_tunnelling_request(0x15, 0, *frame);
    ASSERT_TRUE(request);
    EXPECT_EQ(to_hex(*request), "06 10 04 20 00 15 04 15 00 00 11 00 BC E0 11 05 0A 03 01 00 81");

    auto bad = *frame;
    bad.telegram.payload = GroupPayload::optimized(64);
    auto refused = encode_tunnelling_request(0x15, 0, bad);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), Kind::Core);

    auto disconnect =
        encode_disconnect_request(0x15, Endpoint(asio::ip::make_address_v4("192.168.1.50"), 3671));
    ASSERT_TRUE(disconnect);
    EXPECT_EQ(to_hex(*disconnect), "06 10 02 09 00 10 15 00 08 01 C0 A8 01 32 0E 57");
    EXPECT_EQ(encode_disconnect_request(0x15, Endpoint(asio::ip::make_address_v6("::1"), 1))
                  .error()
                  .kind(),
              Kind::UnsupportedIpv6);

    EXPECT_EQ(encode_knxnetip(0x0530, Buffer(65529, 0))->size(), 65535u);
    auto too_long = encode_knxnetip(0x0530, Buffer(65530, 0));
    ASSERT_FALSE(too_long);
    EXPECT_EQ(too_long.error().display(), "invalid KNXnet/IP response: KNXnet/IP frame too long");
}

std::string ack(std::uint8_t channel, std::uint8_t sequence, std::uint8_t status = 0) {
    char text[64];
    std::snprintf(text, sizeof text, "06 10 04 21 00 0A 04 %02X %02X %02X", channel, sequence,
                  status);
    return text;
}

TEST_F(TunnelTest, SendMatchesAcknowledgementBySequenceAndStatus) {
    auto client = connected(options(250ms));
    ASSERT_TRUE(client);
    const auto group = GroupAddress::from_raw(0x0A03);
    auto write = [&] { return client->group_value_write(group, GroupPayload::optimized(1)); };

    struct Case {
        const char* name;
        std::vector<std::string> answers;  // sent after the request, in order; %S = its sequence
        bool another_port;                 // answers come from a different socket
        bool ok;
    };
    const Case cases[] = {
        {"matching ack", {"ack"}, false, true},
        {"no ack", {}, false, false},
        {"right sequence, error status", {"status29"}, false, false},
        {"other sequence first, then matching", {"other", "ack"}, false, true},
        {"other channel", {"channel"}, false, false},
        {"ack from another port", {"ack"}, true, false},
        {"after a timeout the next send still works", {"ack"}, false, true},
    };
    std::uint8_t expected_sequence = 0;
    for (const auto& c : cases) {
        auto result = run_with(write(), [&] {
            auto request = gateway_.recv();
            ASSERT_TRUE(request) << c.name;
            char seq[4];
            std::snprintf(seq, sizeof seq, "%02X", expected_sequence);
            EXPECT_EQ(to_hex(request->octets), "06 10 04 20 00 15 04 15 " + std::string(seq) +
                                                   " 00 11 00 BC E0 11 05 0A 03 01 00 81")
                << c.name;
            Peer other;
            for (const auto& a : c.answers) {
                std::string datagram = a == "ack"        ? ack(0x15, expected_sequence)
                                       : a == "status29" ? ack(0x15, expected_sequence, 0x29)
                                       : a == "other"    ? ack(0x15, expected_sequence + 7)
                                                         : ack(0x16, expected_sequence);
                if (c.another_port) {
                    other.send(hex(datagram), gateway_.client_port());
                } else {
                    gateway_.send(datagram);
                }
            }
        });
        EXPECT_EQ(result.has_value(), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_EQ(result.error().display(), "tunnel ACK timed out") << c.name;
        }
        // Every send consumes its sequence number, acknowledged or not.
        ++expected_sequence;
        EXPECT_EQ(client->next_sequence(), expected_sequence) << c.name;
    }
}

TEST_F(TunnelTest, SequenceCounterWrapsAfter256Sends) {
    auto client = connected(options(1s));
    ASSERT_TRUE(client);
    std::atomic<bool> done{false};
    std::vector<int> heard;
    std::thread echo([&] {
        while (!done) {
            auto request = gateway_.recv(50ms);
            if (!request) continue;
            heard.push_back(request->octets[8]);
            gateway_.send(ack(0x15, request->octets[8]));
        }
    });
    for (int i = 0; i < 257; ++i) {
        auto result = run(client->group_read_request(GroupAddress::from_raw(0x0A03)));
        ASSERT_TRUE(result) << i << ": " << result.error().display();
    }
    done = true;
    echo.join();
    ASSERT_EQ(heard.size(), 257u);
    for (int i = 0; i < 257; ++i) EXPECT_EQ(heard[i], i % 256);
    EXPECT_EQ(client->next_sequence(), 1);
}

TEST_F(TunnelTest, ReceiveLoopAcknowledgesAndPublishes) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto monitor = client->monitor();
    const std::string kMarker = "29 00 BC E0 22 01 0A 03 01 00 80";  // write 0 from 2.2.1

    struct Case {
        const char* name;
        std::uint8_t channel;
        std::string cemi;
        bool other_port;
        int acks;  // expected acknowledgements
        std::optional<Confirmation> confirmation;
        bool event;
    };
    const Case cases[] = {
        {"indication", 0x15, "29 00 BC E0 11 05 0A 03 01 00 81", false, 1, std::nullopt, true},
        {"confirmation ok", 0x15, "2E 00 BC E0 11 05 0A 03 01 00 81", false, 1, Confirmation::Ok,
         true},
        {"confirmation error", 0x15, "2E 00 BD E0 11 05 0A 03 01 00 81", false, 1,
         Confirmation::Error, true},
        {"other channel", 0x16, "29 00 BC E0 11 05 0A 03 01 00 81", false, 0, std::nullopt, false},
        {"unsupported APCI", 0x15, "29 00 BC E0 11 05 0A 03 01 00 C0", false, 1, std::nullopt,
         false},
        {"trailing octets", 0x15, "29 00 BC E0 11 05 0A 03 01 00 81 00 00", false, 1, std::nullopt,
         false},
        {"from another port", 0x15, "29 00 BC E0 11 05 0A 03 01 00 81", true, 0, std::nullopt,
         false},
    };
    std::uint8_t sequence = 0x40;
    for (const auto& c : cases) {
        Buffer body = {0x04, c.channel, sequence, 0x00};
        auto cemi = hex(c.cemi);
        body.insert(body.end(), cemi.begin(), cemi.end());
        auto datagram = encode_knxnetip(0x0420, body);
        Peer other;
        if (c.other_port) {
            other.send(*datagram, gateway_.client_port());
        } else {
            gateway_.send(*datagram);
        }
        char expected_ack[64];
        std::snprintf(expected_ack, sizeof expected_ack, "06 10 04 21 00 0A 04 %02X %02X 00",
                      c.channel, sequence);
        auto heard = gateway_.recv(c.acks ? 2000ms : 100ms);
        if (c.acks) {
            ASSERT_TRUE(heard) << c.name;
            EXPECT_EQ(to_hex(heard->octets), expected_ack) << c.name;
        } else {
            EXPECT_FALSE(heard) << c.name;
        }
        if (c.other_port) {
            EXPECT_FALSE(other.recv(50ms)) << c.name;
        }

        // A marker telegram behind it shows whether the case itself produced an event.
        Buffer marker_body = {0x04, 0x15, static_cast<std::uint8_t>(sequence + 1), 0x00};
        auto marker = hex(kMarker);
        marker_body.insert(marker_body.end(), marker.begin(), marker.end());
        gateway_.send(*encode_knxnetip(0x0420, marker_body));
        ASSERT_TRUE(gateway_.recv()) << c.name;

        auto item = next(monitor);
        ASSERT_EQ(item.kind, MonitorItem::Kind::Event) << c.name;
        if (c.event) {
            EXPECT_EQ(item.event->source.display(), "1.1.5") << c.name;
            EXPECT_EQ(item.event->destination.display(), "1/2/3") << c.name;
            EXPECT_EQ(item.event->apci, core::GroupApci::Write) << c.name;
            EXPECT_EQ(item.event->payload, GroupPayload::optimized(1)) << c.name;
            EXPECT_EQ(item.event->message_code, cemi[0]) << c.name;
            EXPECT_EQ(item.event->confirmation, c.confirmation) << c.name;
            item = next(monitor);
            ASSERT_EQ(item.kind, MonitorItem::Kind::Event) << c.name;
        }
        EXPECT_EQ(item.event->source.display(), "2.2.1") << c.name << ": marker expected";
        sequence = static_cast<std::uint8_t>(sequence + 2);
    }
}

TEST_F(TunnelTest, RepeatedRequestIsAcknowledgedAndPublishedAgain) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto monitor = client->monitor();
    const auto datagram =
        hex("06 10 04 20 00 17 04 15 09 00 29 00 BC E0 11 05 0A 03 03 00 80 0C 1A");
    for (int i = 0; i < 2; ++i) {
        gateway_.send(datagram);
        auto heard = gateway_.recv();
        ASSERT_TRUE(heard);
        EXPECT_EQ(to_hex(heard->octets), "06 10 04 21 00 0A 04 15 09 00");
    }
    auto first = next(monitor);
    auto second = next(monitor);
    ASSERT_EQ(first.kind, MonitorItem::Kind::Event);
    ASSERT_EQ(second.kind, MonitorItem::Kind::Event);
    EXPECT_EQ(*first.event, *second.event);
    EXPECT_EQ(first.event->payload, GroupPayload::octets({0x0C, 0x1A}));
}

TEST_F(TunnelTest, MonitorSeesOnlyLaterEventsAndReportsLag) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto request = [](std::uint8_t sequence, std::uint8_t value) {
        Buffer body = {0x04, 0x15, sequence, 0x00, 0x29, 0x00, 0xBC, 0xE0,
                       0x11, 0x05, 0x0A,     0x03, 0x02, 0x00, 0x80, value};
        return *encode_knxnetip(0x0420, body);
    };
    auto early = client->monitor();
    gateway_.send(request(0, 200));
    ASSERT_TRUE(gateway_.recv());
    ASSERT_EQ(next(early).kind, MonitorItem::Kind::Event);

    auto monitor = client->monitor();
    for (int i = 0; i < 65; ++i) {
        gateway_.send(request(static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i)));
        ASSERT_TRUE(gateway_.recv());
    }
    auto lag = next(monitor);
    ASSERT_EQ(lag.kind, MonitorItem::Kind::Lagged);
    EXPECT_EQ(lag.error->display(), "monitor event stream lagged");
    // The lag came with the 65th event, so all the rest is buffered: taking it without the
    // runtime, alternately with waiting on it, gives the same stream.
    for (int value = 1; value < 65; ++value) {
        auto item =
            value % 2
                ? next(monitor)
                : monitor.try_next().value_or(MonitorItem{MonitorItem::Kind::TimedOut, {}, {}});
        ASSERT_EQ(item.kind, MonitorItem::Kind::Event) << value;
        EXPECT_EQ(item.event->payload.octets().at(0), value);
    }
    EXPECT_FALSE(monitor.try_next().has_value());
    // Nothing buffered: a deadline already passed returns at once.
    EXPECT_EQ(run(monitor.next(Clock::now())).kind, MonitorItem::Kind::TimedOut);
}

TEST_F(TunnelTest, ReadRequestCompletesOnAckAndAnswerArrivesAsEvent) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto monitor = client->monitor();
    auto result = run_with(client->group_read_request(GroupAddress::from_raw(0x0A03)), [&] {
        auto request = gateway_.recv();
        ASSERT_TRUE(request);
        EXPECT_EQ(to_hex(request->octets),
                  "06 10 04 20 00 15 04 15 00 00 11 00 BC E0 11 05 0A 03 01 00 00");
        gateway_.send(ack(0x15, 0));
    });
    ASSERT_TRUE(result) << result.error().display();
    gateway_.send("06 10 04 20 00 15 04 15 00 00 29 00 BC E0 11 01 0A 03 01 00 41");
    ASSERT_TRUE(gateway_.recv());
    auto item = next(monitor);
    ASSERT_EQ(item.kind, MonitorItem::Kind::Event);
    EXPECT_EQ(item.event->apci, core::GroupApci::Response);
    EXPECT_EQ(item.event->payload, GroupPayload::optimized(1));
}

TEST_F(TunnelTest, ResponseAndWriteSendComposedPayloads) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto result = run_with(
        client->group_value_response(GroupAddress::from_raw(0x0A03),
                                     GroupPayload::octets({0x0C, 0x1A})),
        [&] {
            auto request = gateway_.recv();
            ASSERT_TRUE(request);
            EXPECT_EQ(to_hex(request->octets),
                      "06 10 04 20 00 17 04 15 00 00 11 00 BC E0 11 05 0A 03 03 00 40 0C 1A");
            gateway_.send(ack(0x15, 0));
        });
    EXPECT_TRUE(result);
    // A payload the frame cannot carry is refused before anything is sent, and uses no sequence.
    auto refused =
        run(client->group_value_write(GroupAddress::from_raw(0x0A03), GroupPayload::octets({})));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().display(), "invalid frame: group write/response must carry payload");
    EXPECT_FALSE(gateway_.recv(50ms));
    EXPECT_EQ(client->next_sequence(), 1);
}

TEST_F(TunnelTest, DisconnectOutcomes) {
    auto client = connected(options(200ms));
    ASSERT_TRUE(client);
    struct Case {
        const char* name;
        std::optional<std::string> answer;
        const char* outcome;
    };
    const Case cases[] = {
        {"status 0x21", "06 10 02 0A 00 08 15 21", "gateway returned status 0x21"},
        {"other channel, then silence", "06 10 02 0A 00 08 16 00", "tunnel disconnect timed out"},
        {"silence", std::nullopt, "tunnel disconnect timed out"},
        {"status 0", "06 10 02 0A 00 08 15 00", "ok"},
    };
    for (const auto& c : cases) {
        auto result = run_with(client->disconnect(), [&] {
            auto request = gateway_.recv();
            ASSERT_TRUE(request) << c.name;
            EXPECT_EQ(to_hex(request->octets),
                      "06 10 02 09 00 10 15 00 08 01 00 00 00 00 " + port_hex(request->from_port))
                << c.name;
            if (c.answer) gateway_.send(*c.answer);
        });
        EXPECT_EQ(result ? "ok" : result.error().display(), c.outcome) << c.name;
    }
}

// What the gateway heard: service type and the octets.
std::uint16_t service_of(const Peer::Heard& heard) {
    return heard.octets.size() >= 4
               ? static_cast<std::uint16_t>(heard.octets[2] << 8 | heard.octets[3])
               : 0;
}

TEST_F(TunnelTest, HeartbeatKeepsTheTunnelAliveAndGivesUpAfterUnansweredRequests) {
    auto o = options(200ms);
    o.heartbeat_interval = 100ms;
    o.heartbeat_timeout = 150ms;
    o.heartbeat_attempts = 3;
    auto client = connected(o);
    ASSERT_TRUE(client);
    const std::string state_request = "06 10 02 07 00 10 15 00 08 01 00 00 00 00 ";

    // Answered requests keep coming at the interval, and writes go on between them.
    for (int round = 0; round < 3; ++round) {
        auto request = gateway_.recv(1s);
        ASSERT_TRUE(request) << round;
        EXPECT_EQ(to_hex(request->octets), state_request + port_hex(request->from_port));
        gateway_.send("06 10 02 08 00 08 15 00");
    }
    auto written = run_with(
        client->group_value_write(GroupAddress::from_raw(0x0A03), GroupPayload::optimized(1)), [&] {
            for (;;) {
                auto heard = gateway_.recv(1s);
                ASSERT_TRUE(heard);
                if (service_of(*heard) == 0x0207) {
                    gateway_.send("06 10 02 08 00 08 15 00");
                    continue;
                }
                ASSERT_EQ(service_of(*heard), 0x0420);
                gateway_.send("06 10 04 21 00 0A 04 15 00 00");
                return;
            }
        });
    ASSERT_TRUE(written) << written.error().display();
    EXPECT_FALSE(client->connection_lost());

    // A status other than 0 counts as unanswered, and so does silence; each miss is repeated
    // at once, and the third in a row ends the heartbeat.
    auto first = gateway_.recv(1s);
    ASSERT_TRUE(first);
    while (service_of(*first) != 0x0207) {
        first = gateway_.recv(1s);
        ASSERT_TRUE(first);
    }
    gateway_.send("06 10 02 08 00 08 15 21");
    for (int repeat = 0; repeat < 2; ++repeat) {
        auto again = gateway_.recv(1s);
        ASSERT_TRUE(again) << repeat;
        EXPECT_EQ(service_of(*again), 0x0207) << repeat;
    }
    EXPECT_FALSE(gateway_.recv(500ms)) << "a lost connection is not probed any further";
    const auto give_up = Clock::now() + 2s;
    while (!client->connection_lost() && Clock::now() < give_up) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(client->connection_lost());

    // From then on every exchange fails at once, without a datagram and without its timeout.
    const auto started = Clock::now();
    auto write =
        run(client->group_value_write(GroupAddress::from_raw(0x0A03), GroupPayload::optimized(0)));
    auto read = run(client->group_read_request(GroupAddress::from_raw(0x0A03)));
    auto disconnect = run(client->disconnect());
    for (const auto* outcome : {&write, &read, &disconnect}) {
        ASSERT_FALSE(*outcome);
        EXPECT_EQ(outcome->error().kind(), Kind::HeartbeatTimeout);
        EXPECT_EQ(outcome->error().display(), "tunnel heartbeat timed out");
    }
    EXPECT_LT(Clock::now() - started, 200ms) << "waited for an acknowledgement timeout";
    EXPECT_FALSE(gateway_.recv(100ms));
    EXPECT_EQ(client->next_sequence(), 1) << "a refused send must not use a sequence number";
}

// Each Python client owns a runtime and a client; neither may leave a thread, a socket or a task
// behind when dropped, however often that happens.
TEST_F(TunnelTest, DroppedClientsAndRuntimesLeaveNoThreadsOrSocketsBehind) {
    auto count_entries = [](const char* directory) {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
            ++n;
        }
        return n;
    };
    const std::size_t threads_before = count_entries("/proc/self/task");
    const std::size_t fds_before = count_entries("/proc/self/fd");
    for (int round = 0; round < 20; ++round) {
        auto started = Runtime::start(2);
        ASSERT_TRUE(started);
        std::unique_ptr<Runtime> runtime = std::move(*started);
        auto o = options();
        o.heartbeat_interval = 20ms;  // a heartbeat pending when the client goes
        auto pending = std::async(std::launch::async, [&] {
            return runtime->block_on(TunnelClient::connect_with_options(o));
        });
        ASSERT_TRUE(gateway_.recv());
        gateway_.send(connect_response(0x15));
        auto client = pending.get();
        ASSERT_TRUE(client) << client.error().display();
        auto monitor = client->monitor();
        if (round % 2) runtime.reset();  // the client outlives its runtime every other round
        client = std::unexpected(KnxIpError::timeout());
        runtime.reset();
    }
    const auto give_up = Clock::now() + 3s;
    while ((count_entries("/proc/self/task") > threads_before ||
            count_entries("/proc/self/fd") > fds_before) &&
           Clock::now() < give_up) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(count_entries("/proc/self/task"), threads_before);
    EXPECT_EQ(count_entries("/proc/self/fd"), fds_before);
    // Nothing of the dropped clients is still probing the gateway.
    while (gateway_.recv(50ms)) {
    }
    EXPECT_FALSE(gateway_.recv(200ms));
}

TEST_F(TunnelTest, DroppingTheClientStopsTheLoopAndEndsMonitors) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto monitor = client->monitor();
    client.reset();
    EXPECT_EQ(next(monitor, 2s).kind, MonitorItem::Kind::Ended);
    gateway_.send("06 10 04 20 00 15 04 15 00 00 29 00 BC E0 11 05 0A 03 01 00 81");
    EXPECT_FALSE(gateway_.recv(100ms)) << "a stopped loop acknowledges nothing";
}

TEST_F(TunnelTest, ClientAndMonitorMayOutliveTheirRuntime) {
    auto client = connected(options());
    ASSERT_TRUE(client);
    auto monitor = client->monitor();
    EXPECT_EQ(next(monitor, 10ms).kind, MonitorItem::Kind::TimedOut);  // it has waited once
    runtime_.reset();
    // Neither may hang or touch the runtime's freed state (the sanitizer builds check the latter).
    client.reset();
}  // the monitor goes last

TEST(ReconnectPolicy, NextDelayDoublesCapsAndSaturates) {
    ReconnectPolicy policy{5, 300ms, 1s};
    EXPECT_EQ(policy.next_delay(300ms), 600ms);
    EXPECT_EQ(policy.next_delay(600ms), 1s);
    EXPECT_EQ(policy.next_delay(1s), 1s);
    ReconnectPolicy wide{5, 1ns, Clock::duration::max()};
    EXPECT_EQ(wide.next_delay(999'999'999ns), 1'999'999'998ns);
    EXPECT_EQ(wide.next_delay(Clock::duration::max() / 2 + 1ns), Clock::duration::max());
}

TEST_F(TunnelTest, ReconnectRecordsPausesAndSuccess) {
    auto o = options(100ms);
    o.reconnect = ReconnectPolicy{4, 20ms, 30ms};
    auto pending = start_connect(o);
    std::vector<Clock::time_point> heard_at;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        auto request = gateway_.recv();
        ASSERT_TRUE(request) << attempt;
        heard_at.push_back(Clock::now());
        // The first two attempts are refused outright, the third is accepted on channel 7.
        gateway_.send(attempt < 3 ? "06 10 02 06 00 08 00 24" : connect_response(0x07));
    }
    auto client = pending.get();
    ASSERT_TRUE(client) << client.error().display();
    const std::vector<ConnectionEvent> expected = {
        ConnectionEvent::reconnecting(2, 20ms),
        ConnectionEvent::reconnecting(3, 30ms),
        ConnectionEvent::reconnected(3, 7),
    };
    EXPECT_EQ(client->lifecycle_events(), expected);
    EXPECT_GE(heard_at[1] - heard_at[0], 20ms);
    EXPECT_GE(heard_at[2] - heard_at[1], 30ms);
}

TEST_F(TunnelTest, ReconnectExhaustionReportsAttemptCount) {
    struct Case {
        std::size_t max_attempts;
        std::size_t attempts;
    };
    for (auto c : {Case{0, 1}, Case{1, 1}, Case{3, 3}, Case{4, 4}}) {
        auto o = options(100ms);
        o.reconnect = ReconnectPolicy{c.max_attempts, 5ms, 10ms};
        auto pending = start_connect(o);
        for (std::size_t i = 0; i < c.attempts; ++i) {
            ASSERT_TRUE(gateway_.recv()) << i;
            gateway_.send("06 10 02 06 00 08 00 24");
        }
        auto result = pending.get();
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().display(), "tunnel reconnect attempts exhausted after " +
                                                std::to_string(c.attempts) + " attempts");
        EXPECT_FALSE(gateway_.recv(50ms)) << "no attempt beyond the limit";
    }
    // Success on the first attempt records nothing, with a policy as without one.
    auto o = options();
    o.reconnect = ReconnectPolicy{3, 5ms, 10ms};
    auto pending = start_connect(o);
    ASSERT_TRUE(gateway_.recv());
    gateway_.send(connect_response(0x15));
    auto client = pending.get();
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->lifecycle_events().empty());
}

}  // namespace
}  // namespace tavrel::knxip
