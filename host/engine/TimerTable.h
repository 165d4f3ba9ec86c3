#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace panelhost {

// One tick of one timer of one panel instance. `run` tells ticks of a
// restarted timer from those of its earlier run.
struct TimerTick {
    int instance = 0;
    int timer = 0;
    std::uint64_t run = 0;
};

// The timers the scripts started with "ET". Time is passed in by the caller,
// so the table itself never reads a clock. Not thread-safe.
class TimerTable {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Starts `timer` of `instance`, or restarts it when it runs: the first
    // tick is due one interval after `now`.
    void start(int instance, int timer, std::chrono::milliseconds interval, TimePoint now);
    // Returns whether the timer was running.
    bool stop(int instance, int timer);
    void stopAll(int instance);

    // One tick for every timer due at `now`. A timer that fell behind by
    // more than one interval ticks once and then keeps its rhythm from `now`,
    // so a stalled host does not release a burst of ticks.
    std::vector<TimerTick> takeDue(TimePoint now);

    // When the next tick is due; nothing when no timer runs.
    std::optional<TimePoint> nextDue() const;

    // Whether `tick` belongs to the current run of a running timer.
    bool current(const TimerTick& tick) const;

  private:
    struct Timer {
        std::chrono::milliseconds interval;
        TimePoint due;
        std::uint64_t run;
    };

    std::map<std::pair<int, int>, Timer> timers_;
    std::uint64_t runs_ = 0;
};

}  // namespace panelhost
