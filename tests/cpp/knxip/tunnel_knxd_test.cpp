// Two tunnels through a real knxd on loopback: what one writes, the other hears.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "knxip/tunnel.hpp"

extern char** environ;

namespace tavrel::knxip {
namespace {

using namespace std::chrono_literals;
using core::GroupAddress;
using core::GroupPayload;

constexpr const char* kKnxd = "/usr/bin/knxd";

std::uint16_t free_udp_port() {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// True once some process holds the UDP port.
bool port_taken(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0;
    ::close(fd);
    return taken;
}

class Knxd {
  public:
    explicit Knxd(std::uint16_t port) {
        std::vector<std::string> args = {kKnxd,
                                         "-e",
                                         "0.0.1",
                                         "-E",
                                         "0.0.2:8",
                                         "-n",
                                         "testd",
                                         "-D",
                                         "-T",
                                         "-R",
                                         "-S224.0.23.12:" + std::to_string(port),
                                         "-I",
                                         "lo",
                                         "--no-timestamp",
                                         "-b",
                                         "dummy:"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, kKnxd, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
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

TEST(TunnelThroughKnxd, WriteOnOneTunnelIsHeardOnTheOther) {
    if (::access(kKnxd, X_OK) != 0) GTEST_SKIP() << "knxd is not installed";
    const std::uint16_t port = free_udp_port();
    Knxd knxd(port);
    ASSERT_TRUE(knxd.started());
    auto runtime = Runtime::start();
    ASSERT_TRUE(runtime);
    auto& rt = **runtime;

    for (int i = 0; i < 100 && !port_taken(port); ++i) std::this_thread::sleep_for(20ms);

    TunnelOptions options;
    options.ack_timeout = 2s;
    options.server_control_endpoint = Endpoint(asio::ip::address_v4::loopback(), port);
    auto writer = rt.block_on(TunnelClient::connect_with_options(options));
    ASSERT_TRUE(writer) << writer.error().display();
    auto listener = rt.block_on(TunnelClient::connect_with_options(options));
    ASSERT_TRUE(listener) << listener.error().display();
    EXPECT_NE(writer->individual_address(), listener->individual_address());

    auto heard = listener->monitor();
    auto confirmed = writer->monitor();
    const auto group = GroupAddress::from_raw(0x0A03);  // 1/2/3

    auto expect_event = [&](TunnelMonitor& monitor, core::GroupApci apci,
                            const GroupPayload& payload, std::uint8_t message_code,
                            std::optional<Confirmation> confirmation, const TunnelClient& from) {
        for (;;) {
            auto item = rt.block_on(monitor.next(Clock::now() + 3s));
            ASSERT_EQ(item.kind, MonitorItem::Kind::Event);
            // knxd may tunnel unrelated traffic of its own; only our group matters here.
            if (item.event->destination != group) continue;
            EXPECT_EQ(item.event->apci, apci);
            EXPECT_EQ(item.event->payload, payload);
            EXPECT_EQ(item.event->message_code, message_code);
            EXPECT_EQ(item.event->confirmation, confirmation);
            EXPECT_EQ(item.event->source, from.individual_address());
            return;
        }
    };

    // Each tunnel hears the other's telegrams as indications and its own as confirmations.
    const auto answer = GroupPayload::octets({0x0C, 0x1A});
    const auto long_payload = GroupPayload::octets(std::vector<std::uint8_t>(20, 0x41));
    auto wrote = rt.block_on(writer->group_value_write(group, GroupPayload::optimized(1)));
    ASSERT_TRUE(wrote) << wrote.error().display();
    expect_event(heard, core::GroupApci::Write, GroupPayload::optimized(1), core::cemi::kLDataInd,
                 std::nullopt, *writer);
    expect_event(confirmed, core::GroupApci::Write, GroupPayload::optimized(1),
                 core::cemi::kLDataCon, Confirmation::Ok, *writer);

    auto asked = rt.block_on(listener->group_read_request(group));
    ASSERT_TRUE(asked) << asked.error().display();
    expect_event(heard, core::GroupApci::Read, GroupPayload::absent(), core::cemi::kLDataCon,
                 Confirmation::Ok, *listener);
    expect_event(confirmed, core::GroupApci::Read, GroupPayload::absent(), core::cemi::kLDataInd,
                 std::nullopt, *listener);

    auto answered = rt.block_on(writer->group_value_response(group, answer));
    ASSERT_TRUE(answered) << answered.error().display();
    expect_event(heard, core::GroupApci::Response, answer, core::cemi::kLDataInd, std::nullopt,
                 *writer);
    expect_event(confirmed, core::GroupApci::Response, answer, core::cemi::kLDataCon,
                 Confirmation::Ok, *writer);

    // Long enough to need an extended frame.
    auto wrote_long = rt.block_on(writer->group_value_write(group, long_payload));
    ASSERT_TRUE(wrote_long) << wrote_long.error().display();
    expect_event(heard, core::GroupApci::Write, long_payload, core::cemi::kLDataInd, std::nullopt,
                 *writer);
    expect_event(confirmed, core::GroupApci::Write, long_payload, core::cemi::kLDataCon,
                 Confirmation::Ok, *writer);

    EXPECT_EQ(writer->next_sequence(), 3);
    auto closed_writer = rt.block_on(writer->disconnect());
    EXPECT_TRUE(closed_writer) << closed_writer.error().display();
    auto closed_listener = rt.block_on(listener->disconnect());
    EXPECT_TRUE(closed_listener) << closed_listener.error().display();
}

}  // namespace
}  // namespace tavrel::knxip
