#include "TimerTable.h"

namespace panelhost {

void TimerTable::start(int instance, int timer, std::chrono::milliseconds interval, TimePoint now) {
    ++runs_;
    timers_[{instance, timer}] = Timer{interval, now + interval, runs_};
}

bool TimerTable::stop(int instance, int timer) {
    return timers_.erase({instance, timer}) != 0;
}

void TimerTable::stopAll(int instance) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        it = it->first.first == instance ? timers_.erase(it) : std::next(it);
    }
}

std::vector<TimerTick> TimerTable::takeDue(TimePoint now) {
    std::vector<TimerTick> ticks;
    for (auto& [key, timer] : timers_) {
        if (timer.due > now) {
            continue;
        }
        ticks.push_back(TimerTick{key.first, key.second, timer.run});
        timer.due += timer.interval;
        if (timer.due < now) {
            timer.due = now + timer.interval;
        }
    }
    return ticks;
}

std::optional<TimerTable::TimePoint> TimerTable::nextDue() const {
    std::optional<TimePoint> next;
    for (const auto& [key, timer] : timers_) {
        if (!next || timer.due < *next) {
            next = timer.due;
        }
    }
    return next;
}

bool TimerTable::current(const TimerTick& tick) const {
    const auto found = timers_.find({tick.instance, tick.timer});
    return found != timers_.end() && found->second.run == tick.run;
}

}  // namespace panelhost
