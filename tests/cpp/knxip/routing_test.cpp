#include "knxip/routing.hpp"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/use_future.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tavrel::knxip {
namespace {

using asio::ip::make_address_v4;
using asio::ip::udp;
using core::GroupAddress;
using core::GroupPayload;
using core::IndividualAddress;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const auto kLoopbackIf = make_address_v4("127.0.0.1");

std::string os_text(int error) {
    return std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")";
}

// A group and port of our own, so that parallel runs on one host never hear each other.
struct Channel {
    asio::ip::address_v4 group;
    std::uint16_t port;
};

std::uint16_t free_udp_port() {
    asio::io_context io;
    udp::socket probe(io, udp::endpoint(asio::ip::address_v4::any(), 0));
    return probe.local_endpoint().port();
}

Channel fresh_channel() {
    std::random_device seed;
    std::uniform_int_distribution<int> octet(1, 254);
    const asio::ip::address_v4::bytes_type group{239, 255, static_cast<std::uint8_t>(octet(seed)),
                                                 static_cast<std::uint8_t>(octet(seed))};
    return {asio::ip::address_v4(group), free_udp_port()};
}

RouteMonitorSettings monitor_settings(const Channel& channel) {
    RouteMonitorSettings settings;
    settings.group = channel.group;
    settings.port = channel.port;
    settings.interface = kLoopbackIf;
    settings.loopback = true;
    return settings;
}

RouteSenderSettings sender_settings(const Channel& channel) {
    RouteSenderSettings settings;
    settings.bind = Endpoint(kLoopbackIf, 0);
    settings.group = Endpoint(channel.group, channel.port);
    settings.interface = kLoopbackIf;
    settings.loopback = true;
    return settings;
}

// A plain multicast socket for writing arbitrary datagrams onto the group.
struct RawSender {
    asio::io_context io;
    udp::socket socket{io};
    Endpoint group;

    explicit RawSender(const Channel& channel) : group(channel.group, channel.port) {
        socket.open(udp::v4());
        socket.set_option(asio::ip::multicast::enable_loopback(true));
        socket.set_option(asio::ip::multicast::outbound_interface(kLoopbackIf));
        socket.bind(Endpoint(kLoopbackIf, 0));
    }
    void send(const Bytes& datagram) { socket.send_to(asio::buffer(datagram), group); }
};

// A plain member of the group that hands over raw datagrams.
struct RawListener {
    asio::io_context io;
    udp::socket socket{io};

    explicit RawListener(const Channel& channel) {
        socket.open(udp::v4());
        socket.bind(Endpoint(asio::ip::address_v4::any(), channel.port));
        socket.set_option(asio::ip::multicast::enable_loopback(true));
        socket.set_option(asio::ip::multicast::join_group(channel.group, kLoopbackIf));
        timeval limit{2, 0};
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    Bytes receive() {
        Bytes buffer(1500);
        std::error_code ec;
        std::size_t n = socket.receive(asio::buffer(buffer), 0, ec);
        if (ec) return {};
        buffer.resize(n);
        return buffer;
    }
};

class Routing : public ::testing::Test {
  protected:
    void SetUp() override {
        auto started = Runtime::start(2);
        ASSERT_TRUE(started);
        runtime = std::move(*started);
    }

    RouteEvents bind_monitor(const Channel& channel) {
        auto monitor = runtime->block_on(RouteMonitor::bind(monitor_settings(channel)));
        EXPECT_TRUE(monitor) << monitor.error().display();
        return RouteEvents(std::move(*monitor));
    }
    RouteEvents::Next next(RouteEvents& events, std::chrono::milliseconds wait = 2000ms) {
        return runtime->block_on(events.next(Clock::now() + wait));
    }

    std::unique_ptr<Runtime> runtime;
};

// L_Data.ind GroupValueWrite from 1.1.5 to 1/2/3 carrying `payload`.
Bytes indication(const Bytes& payload_tail, std::uint8_t apci_low = 0x00) {
    Bytes cemi = {0x29,
                  0x00,
                  0xBC,
                  0xE0,
                  0x11,
                  0x05,
                  0x0A,
                  0x03,
                  static_cast<std::uint8_t>(1 + payload_tail.size()),
                  0x00,
                  static_cast<std::uint8_t>(0x80 | apci_low)};
    cemi.insert(cemi.end(), payload_tail.begin(), payload_tail.end());
    Bytes datagram = {0x06, 0x10, 0x05, 0x30, 0x00, static_cast<std::uint8_t>(6 + cemi.size())};
    datagram.insert(datagram.end(), cemi.begin(), cemi.end());
    return datagram;
}

core::CemiFrame write_ind(GroupPayload payload) {
    auto frame = core::CemiFrame::group_value_write(
        IndividualAddress::from_raw(0x1105), GroupAddress::from_raw(0x0A03), std::move(payload));
    EXPECT_TRUE(frame);
    frame->message_code = core::cemi::kLDataInd;
    return *frame;
}

TEST(RoutingCodec, EncodesIndications) {
    Bytes fifteen(15, 0x41);
    Bytes long_datagram = {0x06, 0x10, 0x05, 0x30, 0x00, 0x20, 0x29, 0x00, 0x3C,
                           0xE0, 0x11, 0x05, 0x0A, 0x03, 0x10, 0x00, 0x80};
    long_datagram.insert(long_datagram.end(), fifteen.begin(), fifteen.end());
    const struct {
        const char* name;
        core::CemiFrame frame;
        Bytes datagram;
    } cases[] = {
        {"optimized value",
         write_ind(GroupPayload::optimized(1)),
         {0x06, 0x10, 0x05, 0x30, 0x00, 0x11, 0x29, 0x00, 0xBC, 0xE0, 0x11, 0x05, 0x0A, 0x03, 0x01,
          0x00, 0x81}},
        {"two octets",
         write_ind(GroupPayload::octets({0x0C, 0x1A})),
         {0x06, 0x10, 0x05, 0x30, 0x00, 0x13, 0x29, 0x00, 0xBC, 0xE0, 0x11, 0x05, 0x0A, 0x03, 0x03,
          0x00, 0x80, 0x0C, 0x1A}},
        {"extended frame", write_ind(GroupPayload::octets(fifteen)), long_datagram},
    };
    for (const auto& c : cases) {
        auto datagram = encode_routing_packet(c.frame);
        ASSERT_TRUE(datagram) << c.name;
        EXPECT_EQ(*datagram, c.datagram) << c.name;
    }

    core::CemiFrame invalid = write_ind(GroupPayload::optimized(1));
    invalid.telegram.payload = GroupPayload::optimized(64);
    auto refused = encode_routing_packet(invalid);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), KnxIpError::Kind::Core);
    EXPECT_EQ(refused.error().display(), "invalid frame: optimized group value exceeds 6 bits");
}

TEST(RoutingCodec, DecodesIndicationsSkipsOtherServicesAndRefusesMalformedDatagrams) {
    const Endpoint from(make_address_v4("192.0.2.7"), 3671);

    RouteEvent optimized;
    optimized.payload = GroupPayload::optimized(1);
    optimized.received_from = from;
    optimized.source = IndividualAddress::from_raw(0x1105);
    optimized.destination = GroupAddress::from_raw(0x0A03);
    optimized.apci = core::GroupApci::Write;
    optimized.message_code = 0x29;
    RouteEvent octets = optimized;
    octets.payload = GroupPayload::octets({0x0C, 0x1A});

    Bytes beyond_total = indication({}, 0x01);
    beyond_total.push_back(0xEE);  // outside the header's total length: not part of the datagram
    Bytes trailing = indication({}, 0x01);
    trailing.push_back(0x00);
    trailing.push_back(0x00);
    trailing[5] += 2;
    Bytes confirmation = indication({}, 0x01);
    confirmation[6] = 0x2E;
    RouteEvent confirmed = optimized;
    confirmed.message_code = 0x2E;

    const struct {
        const char* name;
        Bytes datagram;
        std::optional<RouteEvent> event;  // expected when `error` is empty
        std::string error;                // empty: no error
    } cases[] = {
        {"optimized write", indication({}, 0x01), optimized, ""},
        {"octets write", indication({0x0C, 0x1A}), octets, ""},
        {"octets beyond the total length are ignored", beyond_total, optimized, ""},
        {"message code kept", confirmation, confirmed, ""},
        {"routing lost message", {0x06, 0x10, 0x05, 0x31, 0x00, 0x06}, std::nullopt, ""},
        {"routing busy", {0x06, 0x10, 0x05, 0x32, 0x00, 0x06}, std::nullopt, ""},
        {"search request",
         {0x06, 0x10, 0x02, 0x01, 0x00, 0x0E, 0x08, 0x01, 0, 0, 0, 0, 0xD4, 0x31},
         std::nullopt,
         ""},
        {"unknown service",
         {0x06, 0x10, 0x03, 0x10, 0x00, 0x06},
         std::nullopt,
         "unsupported service type: 0x0310"},
        {"trailing octets", trailing, std::nullopt,
         "invalid frame: routing cEMI has trailing bytes"},
        {"not KNXnet/IP",
         {'h', 'e', 'l', 'l', 'o', '!'},
         std::nullopt,
         "invalid frame: invalid KNXnet/IP header length"},
        {"short datagram",
         {0x06, 0x10, 0x05},
         std::nullopt,
         "buffer too short: needed 6 bytes, got 3"},
        {"bad cEMI message code",
         {0x06, 0x10, 0x05, 0x30, 0x00, 0x11, 0x2B, 0x00, 0xBC, 0xE0, 0x11, 0x05, 0x0A, 0x03, 0x01,
          0x00, 0x81},
         std::nullopt,
         "invalid frame: unsupported cEMI message code"},
        {"empty indication",
         {0x06, 0x10, 0x05, 0x30, 0x00, 0x06},
         std::nullopt,
         "buffer too short: needed 2 bytes, got 0"},
    };
    for (const auto& c : cases) {
        auto decoded = decode_routing_packet(c.datagram, from);
        if (!c.error.empty()) {
            ASSERT_FALSE(decoded) << c.name;
            EXPECT_EQ(decoded.error().kind(), KnxIpError::Kind::Core) << c.name;
            EXPECT_EQ(decoded.error().display(), c.error) << c.name;
            continue;
        }
        ASSERT_TRUE(decoded) << c.name << ": " << decoded.error().display();
        EXPECT_EQ(*decoded, c.event) << c.name;
    }
}

TEST_F(Routing, SenderWritesTheExactDatagramOnTheGroup) {
    const Channel channel = fresh_channel();
    RawListener listener(channel);
    auto sender = runtime->block_on(RouteSender::bind(sender_settings(channel)));
    ASSERT_TRUE(sender) << sender.error().display();

    auto sent = runtime->block_on(sender->send_group_write(IndividualAddress::from_raw(0x1105),
                                                           GroupAddress::from_raw(0x0A03),
                                                           GroupPayload::optimized(1)));
    ASSERT_TRUE(sent) << sent.error().display();
    EXPECT_EQ(*sent, 17u);
    EXPECT_EQ(listener.receive(), (Bytes{0x06, 0x10, 0x05, 0x30, 0x00, 0x11, 0x29, 0x00, 0xBC, 0xE0,
                                         0x11, 0x05, 0x0A, 0x03, 0x01, 0x00, 0x81}));

    // An 11-octet frame goes out as a 17-octet datagram, whatever its message code.
    auto frame = core::CemiFrame::group_value_read(IndividualAddress::from_raw(0x1105),
                                                   GroupAddress::from_raw(0x0A03));
    sent = runtime->block_on(sender->send_frame(frame));
    ASSERT_TRUE(sent);
    EXPECT_EQ(*sent, 17u);
    EXPECT_EQ(listener.receive(), (Bytes{0x06, 0x10, 0x05, 0x30, 0x00, 0x11, 0x11, 0x00, 0xBC, 0xE0,
                                         0x11, 0x05, 0x0A, 0x03, 0x01, 0x00, 0x00}));

    // A refused telegram sends nothing.
    auto refused = runtime->block_on(sender->send_group_write_text(
        IndividualAddress::from_raw(0x1105), GroupAddress::from_raw(0x0A03),
        GroupPayload::octets(Bytes(254, 0x20))));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), KnxIpError::Kind::Core);
    EXPECT_EQ(refused.error().display(), "invalid frame: group payload too long");
    // The next datagram on the group is the one after the refusal.
    sent = runtime->block_on(sender->send_group_write_prefixed(
        IndividualAddress::from_raw(0x1105), GroupAddress::from_raw(0x0A03),
        GroupPayload::octets({0x01, 0x41, 0x00})));
    ASSERT_TRUE(sent);
    EXPECT_EQ(listener.receive(),
              (Bytes{0x06, 0x10, 0x05, 0x30, 0x00, 0x14, 0x29, 0x00, 0xBC, 0xE0,
                     0x11, 0x05, 0x0A, 0x03, 0x04, 0x00, 0x80, 0x01, 0x41, 0x00}));
}

TEST_F(Routing, CallingThreadSendsAndTakesWhatIsReadyWithoutTheRuntime) {
    const Channel raw_channel = fresh_channel();
    RawListener listener(raw_channel);
    auto sender = runtime->block_on(RouteSender::bind(sender_settings(raw_channel)));
    ASSERT_TRUE(sender) << sender.error().display();

    // The same datagram as the runtime's send, sent from this thread.
    auto sent =
        sender->try_send_group_write(IndividualAddress::from_raw(0x1105),
                                     GroupAddress::from_raw(0x0A03), GroupPayload::optimized(1));
    ASSERT_TRUE(sent) << sent.error().display();
    ASSERT_TRUE(sent->has_value());
    EXPECT_EQ(**sent, 17u);
    EXPECT_EQ(listener.receive(), (Bytes{0x06, 0x10, 0x05, 0x30, 0x00, 0x11, 0x29, 0x00, 0xBC, 0xE0,
                                         0x11, 0x05, 0x0A, 0x03, 0x01, 0x00, 0x81}));
    auto refused = sender->try_send_group_write(IndividualAddress::from_raw(0x1105),
                                                GroupAddress::from_raw(0x0A03),
                                                GroupPayload::octets(Bytes(254, 0x20)));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().display(), "invalid frame: group payload too long");

    // More than the queue holds: taking without waiting must also release the held-back task.
    const Channel channel = fresh_channel();
    RouteEvents events = bind_monitor(channel);
    auto flooder = runtime->block_on(RouteSender::bind(sender_settings(channel)));
    ASSERT_TRUE(flooder) << flooder.error().display();
    constexpr int kSent = 100;
    for (int i = 0; i < kSent; ++i) {
        auto again = flooder->try_send_group_write(IndividualAddress::from_raw(0x1105),
                                                   GroupAddress::from_raw(0x0A03 + i),
                                                   GroupPayload::optimized(1));
        ASSERT_TRUE(again && again->has_value()) << i;
    }
    int taken = 0;
    const auto give_up = Clock::now() + 5s;
    while (taken < kSent && Clock::now() < give_up) {
        auto item = events.try_next();
        if (!item) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        ASSERT_EQ(item->kind, RouteEvents::Next::Kind::Event) << taken;
        EXPECT_EQ(item->event->destination.raw(), 0x0A03 + taken) << taken;
        ++taken;
    }
    EXPECT_EQ(taken, kSent);
    EXPECT_FALSE(events.try_next().has_value());
}

TEST_F(Routing, MonitorHearsTheSendersOwnWritesFromItsSocketAddress) {
    const Channel channel = fresh_channel();
    RouteEvents events = bind_monitor(channel);
    auto sender = runtime->block_on(RouteSender::bind(sender_settings(channel)));
    ASSERT_TRUE(sender) << sender.error().display();
    auto sender_address = sender->local_addr();
    ASSERT_TRUE(sender_address);

    const std::vector<GroupPayload> payloads = {
        GroupPayload::optimized(63), GroupPayload::octets({0x0C, 0x1A}),
        GroupPayload::octets(Bytes(15, 0x7E)), GroupPayload::octets(Bytes(253, 0x01))};
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        auto sent = runtime->block_on(sender->send_group_write(
            IndividualAddress::from_raw(0x1105), GroupAddress::from_raw(0x0A03 + i), payloads[i]));
        ASSERT_TRUE(sent) << sent.error().display();
    }
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        auto item = next(events);
        ASSERT_EQ(item.kind, RouteEvents::Next::Kind::Event) << i;
        RouteEvent expected;
        expected.payload = payloads[i];
        expected.received_from = *sender_address;
        expected.source = IndividualAddress::from_raw(0x1105);
        expected.destination = GroupAddress::from_raw(0x0A03 + i);
        expected.apci = core::GroupApci::Write;
        expected.message_code = 0x29;
        EXPECT_EQ(*item.event, expected) << i;
    }
    EXPECT_EQ(next(events, 50ms).kind, RouteEvents::Next::Kind::TimedOut);
}

TEST_F(Routing, MonitorQueuesMalformedDatagramsAsErrorsAndSkipsOtherServices) {
    const Channel channel = fresh_channel();
    RouteEvents events = bind_monitor(channel);
    RawSender raw(channel);
    Bytes trailing = indication({}, 0x01);
    trailing.insert(trailing.end(), {0xAA, 0xBB});
    trailing[5] += 2;

    raw.send({0x06, 0x10, 0x05, 0x31, 0x00, 0x06});  // lost message: skipped
    raw.send({0x06, 0x10, 0x03, 0x10, 0x00, 0x06});
    raw.send(trailing);
    raw.send({0x06, 0x10, 0x05, 0x32, 0x00, 0x06});  // busy: skipped
    raw.send(indication({0x2A}));

    auto unknown = next(events);
    ASSERT_EQ(unknown.kind, RouteEvents::Next::Kind::Error);
    EXPECT_EQ(unknown.error->kind(), KnxIpError::Kind::Core);
    EXPECT_EQ(unknown.error->display(), "unsupported service type: 0x0310");
    auto trailed = next(events);
    ASSERT_EQ(trailed.kind, RouteEvents::Next::Kind::Error);
    EXPECT_EQ(trailed.error->kind(), KnxIpError::Kind::Core);
    EXPECT_EQ(trailed.error->display(), "invalid frame: routing cEMI has trailing bytes");
    auto good = next(events);
    ASSERT_EQ(good.kind, RouteEvents::Next::Kind::Event);
    EXPECT_EQ(good.event->payload, GroupPayload::octets({0x2A}));
    EXPECT_EQ(good.event->received_from, raw.socket.local_endpoint());
    EXPECT_EQ(next(events, 50ms).kind, RouteEvents::Next::Kind::TimedOut);
}

TEST_F(Routing, FullQueueHoldsBackReadingUntilTheConsumerDrainsIt) {
    const Channel channel = fresh_channel();
    RouteEvents events = bind_monitor(channel);
    RawSender raw(channel);
    constexpr int kSent = 100;
    for (int i = 0; i < kSent; ++i) {
        Bytes datagram = indication({static_cast<std::uint8_t>(i)});
        datagram[13] = static_cast<std::uint8_t>(i);  // destination low octet
        raw.send(datagram);
    }

    const auto give_up = Clock::now() + 3s;
    while (events.queued() < kRouteQueueCapacity && Clock::now() < give_up) {
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(200ms);
    // The task stopped at the capacity instead of reading on or dropping.
    EXPECT_EQ(events.queued(), kRouteQueueCapacity);

    for (int i = 0; i < kSent; ++i) {
        auto item = next(events);
        ASSERT_EQ(item.kind, RouteEvents::Next::Kind::Event) << i;
        EXPECT_EQ(item.event->destination.raw(), 0x0A00 + i) << i;
        EXPECT_EQ(item.event->payload, GroupPayload::octets({static_cast<std::uint8_t>(i)})) << i;
    }
    EXPECT_EQ(next(events, 50ms).kind, RouteEvents::Next::Kind::TimedOut);
    EXPECT_EQ(events.queued(), 0u);
}

RouteItem item_to(std::uint16_t destination) {
    RouteEvent event;
    event.payload = GroupPayload::optimized(1);
    event.destination = GroupAddress::from_raw(destination);
    return event;
}

std::uint16_t destination_of(const RouteQueue::Taken& taken) {
    EXPECT_EQ(taken.kind, RouteQueue::Taken::Kind::Item);
    if (taken.kind != RouteQueue::Taken::Kind::Item || !*taken.item) return 0xFFFF;
    return (*taken.item)->destination.raw();
}

TEST_F(Routing, QueueWaitsWhenFullAndEndsOnlyAfterItsItemsAreTaken) {
    RouteQueue queue(2);
    auto& context = runtime->context();
    const auto soon = [] { return Clock::now() + 1s; };
    EXPECT_TRUE(asio::co_spawn(context, queue.push(item_to(1)), asio::use_future).get());
    EXPECT_TRUE(asio::co_spawn(context, queue.push(item_to(2)), asio::use_future).get());
    auto third = asio::co_spawn(context, queue.push(item_to(3)), asio::use_future);
    EXPECT_EQ(third.wait_for(50ms), std::future_status::timeout) << "a full queue takes no more";

    EXPECT_EQ(destination_of(runtime->block_on(queue.pop(soon()))), 1);
    ASSERT_EQ(third.wait_for(1s), std::future_status::ready);
    EXPECT_TRUE(third.get());

    // Finishing keeps what is queued; the end comes after it.
    queue.finish();
    EXPECT_EQ(destination_of(runtime->block_on(queue.pop(soon()))), 2);
    EXPECT_EQ(destination_of(runtime->block_on(queue.pop(soon()))), 3);
    EXPECT_EQ(runtime->block_on(queue.pop(soon())).kind, RouteQueue::Taken::Kind::Ended);
    EXPECT_EQ(runtime->block_on(queue.pop(std::nullopt)).kind, RouteQueue::Taken::Kind::Ended);
}

TEST_F(Routing, QueueTimesOutWithoutLosingLaterItemsAndReleasesAWaitingProducerWhenAbandoned) {
    RouteQueue queue(1);
    auto& context = runtime->context();
    EXPECT_EQ(runtime->block_on(queue.pop(Clock::now() + 20ms)).kind,
              RouteQueue::Taken::Kind::TimedOut);
    EXPECT_TRUE(asio::co_spawn(context, queue.push(item_to(7)), asio::use_future).get());
    // A deadline already passed still takes what is there.
    EXPECT_EQ(destination_of(runtime->block_on(queue.pop(Clock::now() - 1s))), 7);

    EXPECT_TRUE(asio::co_spawn(context, queue.push(item_to(8)), asio::use_future).get());
    auto blocked = asio::co_spawn(context, queue.push(item_to(9)), asio::use_future);
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    queue.abandon();
    ASSERT_EQ(blocked.wait_for(1s), std::future_status::ready);
    EXPECT_FALSE(blocked.get()) << "nobody will take it";
    EXPECT_FALSE(asio::co_spawn(context, queue.push(item_to(10)), asio::use_future).get());
}

TEST_F(Routing, MonitorCannotTakeAHeldPortAndReleasesItsOwnWhenDropped) {
    const Channel channel = fresh_channel();
    {
        udp::socket holder(runtime->context(), Endpoint(asio::ip::address_v4::any(), channel.port));
        auto refused = runtime->block_on(RouteMonitor::bind(monitor_settings(channel)));
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().kind(), KnxIpError::Kind::Io);
        EXPECT_EQ(refused.error().display(), os_text(EADDRINUSE));
    }

    auto first = std::make_optional(bind_monitor(channel));
    auto second = runtime->block_on(RouteMonitor::bind(monitor_settings(channel)));
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().display(), os_text(EADDRINUSE));

    // Dropping the stream stops the task, which closes its socket, even while the task waits for
    // room in a full queue.
    RawSender raw(channel);
    for (std::size_t i = 0; i < kRouteQueueCapacity + 6; ++i) raw.send(indication({0x01}));
    for (const auto give_up = Clock::now() + 3s;
         first->queued() < kRouteQueueCapacity && Clock::now() < give_up;) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(first->queued(), kRouteQueueCapacity);
    first.reset();
    bool rebound = false;
    for (const auto give_up = Clock::now() + 2s; !rebound && Clock::now() < give_up;) {
        rebound = runtime->block_on(RouteMonitor::bind(monitor_settings(channel))).has_value();
        if (!rebound) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(rebound);
}

TEST_F(Routing, SenderAndMonitorMayOutliveTheirRuntime) {
    const Channel channel = fresh_channel();
    auto events = std::make_unique<RouteEvents>(bind_monitor(channel));
    auto sender = std::make_unique<std::expected<RouteSender, KnxIpError>>(
        runtime->block_on(RouteSender::bind(sender_settings(channel))));
    ASSERT_TRUE(*sender);
    RawSender raw(channel);
    raw.send(indication({0x01}));
    ASSERT_EQ(next(*events).kind, RouteEvents::Next::Kind::Event);

    // The runtime goes first, with the monitor task suspended in a receive; the sockets and the
    // task are released afterwards without touching a destroyed io_context.
    runtime.reset();
    events.reset();
    sender.reset();
}

TEST_F(Routing, SenderSocketSetupFailuresAreIo) {
    const Channel channel = fresh_channel();
    udp::socket holder(runtime->context(), Endpoint(kLoopbackIf, 0));
    const struct {
        const char* name;
        void (*change)(RouteSenderSettings&, const Endpoint&);
        int error;  // 0: accepted
    } cases[] = {
        {"largest ttl", [](RouteSenderSettings& s, const Endpoint&) { s.ttl = 255; }, 0},
        {"ttl 256", [](RouteSenderSettings& s, const Endpoint&) { s.ttl = 256; }, EINVAL},
        {"ttl that reads as -1",
         [](RouteSenderSettings& s, const Endpoint&) { s.ttl = 4294967295u; }, EINVAL},
        {"bind to a held port", [](RouteSenderSettings& s, const Endpoint& held) { s.bind = held; },
         EADDRINUSE},
        {"interface that is not ours",
         [](RouteSenderSettings& s, const Endpoint&) {
             s.interface = make_address_v4("198.51.100.1");
         },
         EADDRNOTAVAIL},
    };
    for (const auto& c : cases) {
        RouteSenderSettings settings = sender_settings(channel);
        c.change(settings, holder.local_endpoint());
        auto sender = runtime->block_on(RouteSender::bind(settings));
        if (c.error == 0) {
            EXPECT_TRUE(sender) << c.name << ": " << sender.error().display();
            continue;
        }
        ASSERT_FALSE(sender) << c.name;
        EXPECT_EQ(sender.error().kind(), KnxIpError::Kind::Io) << c.name;
        EXPECT_EQ(sender.error().display(), os_text(c.error)) << c.name;
    }
}

}  // namespace
}  // namespace tavrel::knxip
