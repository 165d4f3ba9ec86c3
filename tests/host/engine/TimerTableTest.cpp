#include <gtest/gtest.h>

#include "TimerTable.h"

using panelhost::TimerTable;
using std::chrono::milliseconds;

namespace {
const TimerTable::TimePoint kStart{};
}

TEST(TimerTable, ATimerTicksEveryIntervalUntilStopped) {
    TimerTable timers;
    timers.start(1, 2, milliseconds(500), kStart);
    EXPECT_EQ(timers.nextDue(), kStart + milliseconds(500));
    EXPECT_TRUE(timers.takeDue(kStart + milliseconds(499)).empty());
    const auto first = timers.takeDue(kStart + milliseconds(500));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].instance, 1);
    EXPECT_EQ(first[0].timer, 2);
    EXPECT_TRUE(timers.current(first[0]));
    EXPECT_EQ(timers.takeDue(kStart + milliseconds(1000)).size(), 1u);
    EXPECT_TRUE(timers.stop(1, 2));
    EXPECT_FALSE(timers.current(first[0]));
    EXPECT_FALSE(timers.stop(1, 2));
    EXPECT_FALSE(timers.nextDue().has_value());
}

TEST(TimerTable, RestartingATimerStartsItsIntervalAgain) {
    TimerTable timers;
    timers.start(1, 1, milliseconds(1000), kStart);
    const auto early = timers.takeDue(kStart + milliseconds(1000));
    timers.start(1, 1, milliseconds(1000), kStart + milliseconds(1500));
    EXPECT_FALSE(timers.current(early[0]));
    EXPECT_TRUE(timers.takeDue(kStart + milliseconds(2000)).empty());
    EXPECT_EQ(timers.takeDue(kStart + milliseconds(2500)).size(), 1u);
}

TEST(TimerTable, ALateHostGetsOneTickNotABurst) {
    TimerTable timers;
    timers.start(1, 1, milliseconds(100), kStart);
    EXPECT_EQ(timers.takeDue(kStart + milliseconds(1000)).size(), 1u);
    EXPECT_TRUE(timers.takeDue(kStart + milliseconds(1050)).empty());
    EXPECT_EQ(timers.takeDue(kStart + milliseconds(1100)).size(), 1u);
}

TEST(TimerTable, InstancesHaveTheirOwnTimers) {
    TimerTable timers;
    timers.start(1, 1, milliseconds(100), kStart);
    timers.start(2, 1, milliseconds(100), kStart);
    timers.stopAll(1);
    const auto ticks = timers.takeDue(kStart + milliseconds(100));
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_EQ(ticks[0].instance, 2);
}
