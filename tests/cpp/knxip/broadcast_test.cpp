#include "knxip/broadcast.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "knxip/runtime.hpp"

namespace tavrel::knxip {
namespace {

using Kind = Received<int>::Kind;

TEST(Broadcast, ValueWithoutReceiverIsDropped) {
    BroadcastSender<int> tx(4);
    EXPECT_FALSE(tx.publish(1));
    auto rx = tx.subscribe();
    EXPECT_EQ(rx.try_recv().kind, Kind::Empty);  // 1 is gone for good
    EXPECT_TRUE(tx.publish(2));
    auto got = rx.try_recv();
    ASSERT_EQ(got.kind, Kind::Value);
    EXPECT_EQ(*got.value, 2);
}

TEST(Broadcast, LateSubscriberSeesOnlyLaterValues) {
    BroadcastSender<int> tx(4);
    auto early = tx.subscribe();
    tx.publish(1);
    auto late = tx.subscribe();
    tx.publish(2);
    EXPECT_EQ(*early.try_recv().value, 1);
    EXPECT_EQ(*early.try_recv().value, 2);
    EXPECT_EQ(*late.try_recv().value, 2);
    EXPECT_EQ(late.try_recv().kind, Kind::Empty);
}

TEST(Broadcast, SlowReceiverLagsThenContinuesWithOldestHeld) {
    BroadcastSender<int> tx(3);
    auto rx = tx.subscribe();
    for (int i = 1; i <= 5; ++i) tx.publish(i);
    auto lag = rx.try_recv();
    ASSERT_EQ(lag.kind, Kind::Lagged);
    EXPECT_EQ(lag.missed, 2u);
    for (int expected : {3, 4, 5}) {
        auto got = rx.try_recv();
        ASSERT_EQ(got.kind, Kind::Value);
        EXPECT_EQ(*got.value, expected);
    }
    EXPECT_EQ(rx.try_recv().kind, Kind::Empty);
}

TEST(Broadcast, ClosedOnlyAfterHeldValuesAreTaken) {
    std::optional<BroadcastSender<int>> tx(std::in_place, 4);
    auto rx = tx->subscribe();
    {
        BroadcastSender<int> clone = *tx;
        clone.publish(7);
    }
    EXPECT_EQ(*rx.try_recv().value, 7);
    EXPECT_EQ(rx.try_recv().kind, Kind::Empty);  // the first sender is still alive
    tx->publish(8);
    tx.reset();
    EXPECT_EQ(*rx.try_recv().value, 8);
    EXPECT_EQ(rx.try_recv().kind, Kind::Closed);
}

TEST(Broadcast, AwaitedReceiveWakesOnPublishCloseAndDeadline) {
    auto runtime = Runtime::start(2);
    ASSERT_TRUE(runtime);
    auto& rt = **runtime;
    std::optional<BroadcastSender<int>> tx(std::in_place, 4);
    auto rx = tx->subscribe();

    auto timed = rt.block_on(rx.recv(Clock::now() + std::chrono::milliseconds(30)));
    EXPECT_EQ(timed.kind, Kind::TimedOut);

    std::thread publisher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        tx->publish(42);
    });
    auto got = rt.block_on(rx.recv(Clock::now() + std::chrono::seconds(5)));
    publisher.join();
    ASSERT_EQ(got.kind, Kind::Value);
    EXPECT_EQ(*got.value, 42);

    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        tx.reset();
    });
    auto closed = rt.block_on(rx.recv());  // no deadline: only the closure can end it
    closer.join();
    EXPECT_EQ(closed.kind, Kind::Closed);
}

// Several publishers and receivers on different threads: every receiver sees each publisher's
// values in order, exactly once, with lag reports accounting for every value it missed.
TEST(Broadcast, ConcurrentPublishersAndReceiversLoseNothingUnreported) {
    constexpr int kPublishers = 3;
    constexpr int kPerPublisher = 2000;
    constexpr int kReceivers = 3;
    auto runtime = Runtime::start(2);
    ASSERT_TRUE(runtime);
    auto& rt = **runtime;

    std::optional<BroadcastSender<int>> tx(std::in_place, 16);
    std::vector<BroadcastReceiver<int>> receivers;
    for (int r = 0; r < kReceivers; ++r) receivers.push_back(tx->subscribe());

    struct Tally {
        std::uint64_t values = 0;
        std::uint64_t missed = 0;
        bool in_order = true;
    };
    std::vector<Tally> tallies(kReceivers);
    std::vector<std::thread> readers;
    for (int r = 0; r < kReceivers; ++r) {
        readers.emplace_back([&, r] {
            std::vector<int> last(kPublishers, -1);
            for (;;) {
                auto got = rt.block_on(receivers[r].recv());
                if (got.kind == Kind::Closed) break;
                if (got.kind == Kind::Lagged) {
                    tallies[r].missed += got.missed;
                    continue;
                }
                int publisher = *got.value / kPerPublisher;
                int index = *got.value % kPerPublisher;
                if (index <= last[publisher]) tallies[r].in_order = false;
                last[publisher] = index;
                ++tallies[r].values;
            }
        });
    }
    std::vector<std::thread> writers;
    for (int p = 0; p < kPublishers; ++p) {
        writers.emplace_back([&, p, sender = *tx]() {
            for (int i = 0; i < kPerPublisher; ++i) sender.publish(p * kPerPublisher + i);
        });
    }
    for (auto& w : writers) w.join();
    tx.reset();
    for (auto& r : readers) r.join();
    for (const auto& t : tallies) {
        EXPECT_TRUE(t.in_order);
        EXPECT_EQ(t.values + t.missed, std::uint64_t{kPublishers * kPerPublisher});
    }
}

}  // namespace
}  // namespace tavrel::knxip
