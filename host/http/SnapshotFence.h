#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace panelhost {

// How far in the change feed the API's published snapshot has come. The
// event streams send a change the snapshot shows only once a snapshot that
// holds it is published, so that a stream which starts from the newest
// snapshot (its first message) and then follows the broadcast misses
// nothing: a change broadcast before the stream joined is in that snapshot.
// Thread-safe: the engine thread says how far it published, the fan-out's
// thread waits.
class SnapshotFence {
  public:
    // Changes are held back at most this long: a snapshot takes
    // milliseconds, so a longer wait means the publisher failed (and said
    // so in the log) or the engine stopped, and the changes go out without.
    static constexpr std::chrono::milliseconds kPatience{200};

    // A snapshot that holds every change up to `id` is published.
    void reached(long long id);
    // Waits until a snapshot holding change `id` is published, at most
    // kPatience; false when it was not.
    bool waitFor(long long id);

  private:
    std::mutex mutex_;
    std::condition_variable moved_;
    long long through_ = 0;
};

}  // namespace panelhost
