#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace panelhost {

// The newest of a series of immutable values, handed from the one thread
// that makes them to any number of readers. A reader takes no lock while
// the value it read last is still the newest: each thread keeps the last
// value it read with that value's number, and only a number that moved on
// makes it take the lock, once per new value and thread. Numbers are unique
// in the process, so a thread reading several series never mistakes one's
// value for another's. publish() from one thread at a time; current() from
// any thread.
template <typename Value>
class Published {
  public:
    void publish(std::shared_ptr<const Value> value) {
        const std::uint64_t number = numbers().fetch_add(1) + 1;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            value_ = std::move(value);
            number_ = number;
        }
        newest_.store(number, std::memory_order_release);
    }

    // The newest value; null before the first.
    std::shared_ptr<const Value> current() const {
        thread_local Held held;
        if (held.number == newest_.load(std::memory_order_acquire) && held.number != 0) {
            return held.value;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        held.number = number_;
        held.value = value_;
        return held.value;
    }

  private:
    struct Held {
        std::uint64_t number = 0;
        std::shared_ptr<const Value> value;
    };

    static std::atomic<std::uint64_t>& numbers() {
        static std::atomic<std::uint64_t> counter{0};
        return counter;
    }

    mutable std::mutex mutex_;
    std::shared_ptr<const Value> value_;
    std::uint64_t number_ = 0;
    std::atomic<std::uint64_t> newest_{0};
};

}  // namespace panelhost
