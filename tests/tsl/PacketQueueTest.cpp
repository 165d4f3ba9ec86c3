#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PacketQueue.h"

using tsl::PacketQueue;
using namespace std::chrono_literals;

TEST(PacketQueue, FullQueueDropsTheOldestPacket) {
    PacketQueue queue(2);
    EXPECT_TRUE(queue.push({1}));
    EXPECT_TRUE(queue.push({2}));
    EXPECT_FALSE(queue.push({3}));
    EXPECT_EQ(queue.pop(0ms), PacketQueue::Packet{2});
    queue.done();
    EXPECT_EQ(queue.pop(0ms), PacketQueue::Packet{3});
    queue.done();
    EXPECT_FALSE(queue.pop(0ms));
}

TEST(PacketQueue, IdleOnlyWhenEmptyAndNothingInFlight) {
    PacketQueue queue(4);
    EXPECT_TRUE(queue.waitIdle(0ms));
    queue.push({1});
    EXPECT_FALSE(queue.waitIdle(0ms));
    ASSERT_TRUE(queue.pop(0ms));
    EXPECT_FALSE(queue.waitIdle(0ms));

    std::thread sender([&] { queue.done(); });
    EXPECT_TRUE(queue.waitIdle(10s));
    sender.join();
}

TEST(PacketQueue, CloseWakesWaitersAndDiscardsLaterPackets) {
    PacketQueue queue(4);
    std::thread closer([&] { queue.close(); });
    EXPECT_FALSE(queue.pop(10s));
    closer.join();
    EXPECT_TRUE(queue.closed());
    EXPECT_FALSE(queue.push({1}));
    EXPECT_FALSE(queue.pop(0ms));
    EXPECT_FALSE(queue.sleepUnlessClosed(10s));
    EXPECT_FALSE(queue.waitIdle(10s));
}

// A sender sleeps between reconnection attempts: packets arriving meanwhile
// must not cut the sleep short, only close() may.
TEST(PacketQueue, OnlyCloseCutsASleepShort) {
    PacketQueue queue(4);
    ASSERT_TRUE(queue.push({1}));
    EXPECT_TRUE(queue.sleepUnlessClosed(1ms));
    ASSERT_TRUE(queue.pop(0ms));
    queue.done();
    EXPECT_TRUE(queue.sleepUnlessClosed(1ms));
}
