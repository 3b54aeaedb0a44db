#include "knxip/discovery.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tavrel::knxip {
namespace {

using asio::ip::make_address_v4;
using asio::ip::udp;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const auto kLoopback = make_address_v4("127.0.0.1");

std::string os_text(int error) {
    return std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")";
}

std::uint16_t free_udp_port() {
    asio::io_context io;
    udp::socket probe(io, udp::endpoint(asio::ip::address_v4::any(), 0));
    return probe.local_endpoint().port();
}

// SEARCH_RESPONSE whose HPAI names 192.168.1.10:3671, followed by `dibs`.
Bytes search_response(const Bytes& dibs, std::uint8_t protocol = 0x01) {
    Bytes datagram = {0x06,     0x10, 0x02, 0x02, 0x00, 0x00, 0x08,
                      protocol, 0xC0, 0xA8, 0x01, 0x0A, 0x0E, 0x57};
    datagram.insert(datagram.end(), dibs.begin(), dibs.end());
    datagram[4] = static_cast<std::uint8_t>(datagram.size() >> 8);
    datagram[5] = static_cast<std::uint8_t>(datagram.size());
    return datagram;
}

Bytes device_information_dib() {
    Bytes dib(0x36, 0x00);
    dib[0] = 0x36;
    dib[1] = 0x01;
    return dib;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(DiscoveryCodec, EncodesTheSearchRequestWithTheLocalAddress) {
    const struct {
        Endpoint local;
        Bytes datagram;
    } cases[] = {
        {Endpoint(make_address_v4("0.0.0.0"), 54321),
         {0x06, 0x10, 0x02, 0x01, 0x00, 0x0E, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0xD4, 0x31}},
        {Endpoint(kLoopback, 3671),
         {0x06, 0x10, 0x02, 0x01, 0x00, 0x0E, 0x08, 0x01, 0x7F, 0x00, 0x00, 0x01, 0x0E, 0x57}},
        {Endpoint(asio::ip::make_address_v6("::1"), 54321),
         {0x06, 0x10, 0x02, 0x01, 0x00, 0x0E, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0xD4, 0x31}},
    };
    for (const auto& c : cases) {
        auto datagram = encode_search_request(c.local);
        ASSERT_TRUE(datagram);
        EXPECT_EQ(*datagram, c.datagram) << c.local;
    }
}

TEST(DiscoveryCodec, DecodesResponsesAndRefusesEveryMalformedPart) {
    const Endpoint from(make_address_v4("127.0.0.9"), 40000);
    const Endpoint control(make_address_v4("192.168.1.10"), 3671);
    const Bytes families = {0x08, 0x02, 0x02, 0x01, 0x04, 0x01, 0x05, 0x01};
    using F = std::vector<ServiceFamily>;
    Bytes beyond_total = search_response(families);
    beyond_total.push_back(0x01);  // past the header's total length: not part of the datagram

    const struct {
        const char* name;
        Bytes datagram;
        F families;         // expected when `error` is empty
        std::string error;  // the display text of the refusal
    } cases[] = {
        {"only the HPAI", search_response({}), {}, ""},
        {"families after a device information block",
         search_response(concat({device_information_dib(), families})),
         {{2, 1}, {4, 1}, {5, 1}},
         ""},
        {"two family blocks in order",
         search_response(concat({{0x04, 0x02, 0x03, 0x02}, {0x06, 0x02, 0x0A, 0x01, 0x02, 0x01}})),
         {{3, 2}, {10, 1}, {2, 1}},
         ""},
        {"empty family block", search_response({0x02, 0x02}), {}, ""},
        {"unknown block types are skipped", search_response({0x03, 0xFE, 0x99}), {}, ""},
        {"TCP host protocol", search_response(families, 0x02), {{2, 1}, {4, 1}, {5, 1}}, ""},
        {"octets beyond the total length", beyond_total, {{2, 1}, {4, 1}, {5, 1}}, ""},
        {"odd family block",
         search_response({0x07, 0x02, 0x02, 0x01, 0x04, 0x01, 0x05}),
         {},
         "invalid KNXnet/IP response: invalid service family list"},
        {"odd family block of three",
         search_response({0x03, 0x02, 0x02}),
         {},
         "invalid KNXnet/IP response: invalid service family list"},
        {"block length 1",
         search_response({0x01, 0x02}),
         {},
         "invalid KNXnet/IP response: invalid DIB length"},
        {"block length 0",
         search_response({0x00, 0x01}),
         {},
         "invalid KNXnet/IP response: invalid DIB length"},
        {"block longer than the rest",
         search_response({0x09, 0x02, 0x02, 0x01, 0x04, 0x01, 0x05, 0x01}),
         {},
         "invalid KNXnet/IP response: invalid DIB length"},
        {"stray octet after the last block",
         search_response(concat({families, {0x08}})),
         {},
         "invalid KNXnet/IP response: truncated DIB header"},
        {"description response",
         {0x06, 0x10, 0x02, 0x04, 0x00, 0x0E, 0x08, 0x01, 0xC0, 0xA8, 0x01, 0x0A, 0x0E, 0x57},
         {},
         "invalid KNXnet/IP response: expected search response"},
        {"search request",
         {0x06, 0x10, 0x02, 0x01, 0x00, 0x0E, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0xD4, 0x31},
         {},
         "invalid KNXnet/IP response: expected search response"},
        {"unknown service",
         {0x06, 0x10, 0x03, 0x10, 0x00, 0x06},
         {},
         "unsupported service type: 0x0310"},
        {"bad protocol version",
         {0x06, 0x11, 0x02, 0x02, 0x00, 0x06},
         {},
         "invalid frame: invalid KNXnet/IP protocol version"},
        {"no HPAI",
         {0x06, 0x10, 0x02, 0x02, 0x00, 0x06},
         {},
         "buffer too short: needed 8 bytes, got 0"},
        {"bad HPAI length",
         {0x06, 0x10, 0x02, 0x02, 0x00, 0x0E, 0x07, 0x01, 0xC0, 0xA8, 0x01, 0x0A, 0x0E, 0x57},
         {},
         "invalid frame: invalid HPAI length"},
        {"bad host protocol",
         search_response({}, 0x03),
         {},
         "invalid frame: unsupported host protocol"},
    };
    for (const auto& c : cases) {
        auto gateway = decode_search_response(c.datagram, from);
        if (!c.error.empty()) {
            ASSERT_FALSE(gateway) << c.name;
            EXPECT_EQ(gateway.error().display(), c.error) << c.name;
            continue;
        }
        ASSERT_TRUE(gateway) << c.name << ": " << gateway.error().display();
        EXPECT_EQ(gateway->control_endpoint, control) << c.name;
        EXPECT_EQ(gateway->received_from, from) << c.name;
        EXPECT_EQ(gateway->service_families, c.families) << c.name;
    }
}

// A gateway stand-in on 127.0.0.1: takes one request and answers with the given datagrams.
class FakeGateway {
  public:
    explicit FakeGateway(std::vector<Bytes> replies) : replies_(std::move(replies)) {
        timeval limit{5, 0};
        setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeGateway() { finish(); }

    Endpoint address() const { return socket_.local_endpoint(); }
    // What was asked, once the replies are out.
    const Bytes& request() {
        finish();
        return request_;
    }
    const Endpoint& requester() {
        finish();
        return requester_;
    }

  private:
    void finish() {
        if (thread_.joinable()) thread_.join();
    }
    void serve() {
        Bytes buffer(1500);
        std::error_code ec;
        std::size_t n = socket_.receive_from(asio::buffer(buffer), requester_, 0, ec);
        if (ec) return;
        request_.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        for (const auto& reply : replies_) socket_.send_to(asio::buffer(reply), requester_, 0, ec);
    }

    asio::io_context io_;
    udp::socket socket_{io_, Endpoint(kLoopback, 0)};
    std::vector<Bytes> replies_;
    Bytes request_;
    Endpoint requester_;
    std::thread thread_;
};

class Discovery : public ::testing::Test {
  protected:
    void SetUp() override {
        auto started = Runtime::start(2);
        ASSERT_TRUE(started);
        runtime = std::move(*started);
    }
    std::expected<std::vector<Gateway>, KnxIpError> discover(Endpoint target,
                                                             Clock::duration timeout) {
        return runtime->block_on(discover_gateways(Endpoint(kLoopback, 0), target, timeout));
    }

    std::unique_ptr<Runtime> runtime;
};

TEST_F(Discovery, CollectsEveryAnswerUntilTheDeadline) {
    const Bytes response = search_response({0x04, 0x02, 0x02, 0x01});
    FakeGateway gateway({response, response});
    const auto started = Clock::now();
    auto found = discover(gateway.address(), 300ms);
    EXPECT_GE(Clock::now() - started, 300ms);
    ASSERT_TRUE(found) << found.error().display();

    const Gateway expected{
        Endpoint(make_address_v4("192.168.1.10"), 3671), gateway.address(), {{2, 1}}};
    EXPECT_EQ(*found, (std::vector<Gateway>{expected, expected}));
    // The request announced the socket it was sent from.
    Bytes announced = {0x06,
                       0x10,
                       0x02,
                       0x01,
                       0x00,
                       0x0E,
                       0x08,
                       0x01,
                       0x7F,
                       0x00,
                       0x00,
                       0x01,
                       static_cast<std::uint8_t>(gateway.requester().port() >> 8),
                       static_cast<std::uint8_t>(gateway.requester().port())};
    EXPECT_EQ(gateway.request(), announced);
}

TEST_F(Discovery, StopsAtTheLimitWithoutWaitingForTheDeadline) {
    FakeGateway gateway(std::vector<Bytes>(kMaxGateways + 20, search_response({})));
    const auto started = Clock::now();
    auto found = discover(gateway.address(), 10s);
    EXPECT_LT(Clock::now() - started, 5s);
    ASSERT_TRUE(found) << found.error().display();
    EXPECT_EQ(found->size(), kMaxGateways);
}

TEST_F(Discovery, AnyInvalidDatagramFailsTheWholeSearch) {
    const Bytes description = {0x06, 0x10, 0x02, 0x04, 0x00, 0x0E, 0x08,
                               0x01, 0xC0, 0xA8, 0x01, 0x0A, 0x0E, 0x57};
    FakeGateway gateway({search_response({}), description, search_response({})});
    auto found = discover(gateway.address(), 2s);
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().kind(), KnxIpError::Kind::InvalidResponse);
    EXPECT_EQ(found.error().display(), "invalid KNXnet/IP response: expected search response");
}

TEST_F(Discovery, SilenceIsAnEmptyListAfterTheTimeout) {
    asio::io_context io;
    udp::socket silent(io, Endpoint(kLoopback, 0));
    const auto started = Clock::now();
    auto found = discover(silent.local_endpoint(), 200ms);
    EXPECT_GE(Clock::now() - started, 200ms);
    ASSERT_TRUE(found) << found.error().display();
    EXPECT_TRUE(found->empty());
}

TEST_F(Discovery, DirectedBroadcastGetsNoBroadcastPermission) {
    auto found = runtime->block_on(
        discover_gateways(Endpoint(make_address_v4("0.0.0.0"), 0),
                          Endpoint(make_address_v4("127.255.255.255"), free_udp_port()), 200ms));
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().kind(), KnxIpError::Kind::Io);
    EXPECT_EQ(found.error().display(), os_text(EACCES));
}

TEST_F(Discovery, BindFailureIsIo) {
    asio::io_context io;
    udp::socket holder(io, Endpoint(kLoopback, 0));
    auto found = runtime->block_on(
        discover_gateways(holder.local_endpoint(), Endpoint(kLoopback, free_udp_port()), 200ms));
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().display(), os_text(EADDRINUSE));
}

std::optional<std::string> find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        auto candidate = std::filesystem::path(dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::nullopt;
}

// A knxd gateway on loopback for the length of a test.
class Knxd {
  public:
    Knxd(const std::string& program, std::uint16_t port) {
        const std::string server = "-S224.0.23.12:" + std::to_string(port);
        std::vector<std::string> args = {
            program, "-e",   "0.0.1", "-E", "0.0.2:8",        "-n", "testd", "-D", "-T",
            "-R",    server, "-I",    "lo", "--no-timestamp", "-b", "dummy:"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Knxd() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    bool started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

TEST_F(Discovery, KnxdAnswersASearch) {
    auto program = find_program("knxd");
    if (!program) GTEST_SKIP() << "knxd is not installed";
    const std::uint16_t port = free_udp_port();
    Knxd knxd(*program, port);
    ASSERT_TRUE(knxd.started());

    const Endpoint server(kLoopback, port);
    std::expected<std::vector<Gateway>, KnxIpError> found;
    for (const auto give_up = Clock::now() + 10s; Clock::now() < give_up;) {
        found = discover(server, 300ms);
        if (!found || !found->empty()) break;
    }
    ASSERT_TRUE(found) << found.error().display();
    ASSERT_EQ(found->size(), 1u) << "knxd did not answer";
    const Gateway& gateway = found->front();
    EXPECT_EQ(gateway.control_endpoint, server);
    EXPECT_EQ(gateway.received_from, server);
    EXPECT_EQ(gateway.service_families, (std::vector<ServiceFamily>{{2, 1}, {4, 1}, {5, 1}}));
}

}  // namespace
}  // namespace tavrel::knxip
