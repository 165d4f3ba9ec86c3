#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace panelhost {

// Durations counted into fixed buckets, for the metrics page. The bounds
// span a cached read (well under a millisecond) to a stalled disk (seconds).
struct LatencyBuckets {
    static constexpr std::size_t kCount = 12;
    // Upper bounds in seconds; a last, unbounded bucket takes the rest.
    static constexpr std::array<double, kCount> kBounds = {
        0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 5.0};

    // Per bucket (the last one unbounded), not cumulative.
    std::array<std::uint64_t, kCount + 1> counts{};
    std::uint64_t sumNanoseconds = 0;

    std::uint64_t total() const {
        std::uint64_t sum = 0;
        for (const std::uint64_t count : counts) {
            sum += count;
        }
        return sum;
    }
};

// Counts durations into LatencyBuckets. With Count = std::uint64_t it is
// plain data for one thread (the engine's, read through its own queue);
// with Count = std::atomic<std::uint64_t> any thread may record and read
// (a reader may see one recording half done: the counts stay exact, the
// sum may trail by that one duration).
template <typename Count>
class BasicLatencyHistogram {
  public:
    void record(std::chrono::nanoseconds duration) {
        const double seconds = std::chrono::duration<double>(duration).count();
        std::size_t bucket = 0;
        while (bucket < LatencyBuckets::kCount && seconds > LatencyBuckets::kBounds[bucket]) {
            ++bucket;
        }
        counts_[bucket] += 1;
        sum_ += static_cast<std::uint64_t>(duration.count() < 0 ? 0 : duration.count());
    }

    LatencyBuckets read() const {
        LatencyBuckets buckets;
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            buckets.counts[i] = counts_[i];
        }
        buckets.sumNanoseconds = sum_;
        return buckets;
    }

  private:
    std::array<Count, LatencyBuckets::kCount + 1> counts_{};
    Count sum_{0};
};

using LatencyHistogram = BasicLatencyHistogram<std::uint64_t>;
using SharedLatencyHistogram = BasicLatencyHistogram<std::atomic<std::uint64_t>>;

}  // namespace panelhost
