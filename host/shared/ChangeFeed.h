#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "ChangeEvent.h"

namespace panelhost {

// One change as the feed numbers it: ids count up from 1 in the order of
// publishing, the event stream's ids.
struct Change {
    long long id = 0;
    ChangeEvent event;
};

// Fans every change out to the subscribers of the event stream. Publishing
// never blocks on a subscriber: a subscriber that falls too far behind is
// dropped (it sees lagged()); a client reconnects, an internal consumer
// calls resubscribe() and starts again from the state it reads anew.
// Thread-safe.
class ChangeFeed {
  public:
    // How many changes one subscriber may have waiting.
    static constexpr std::size_t kBacklog = 20000;

    class Subscription {
      public:
        // Waits up to `timeout` for changes and takes them all. Returns at
        // once when the subscription has ended or lagged (see closed()).
        std::vector<Change> wait(std::chrono::milliseconds timeout);
        // True once the subscription gets no more changes: it was ended
        // (unsubscribe(), close()) or it lagged.
        bool closed() const;
        // True when it was dropped for falling kBacklog changes behind.
        bool lagged() const;

      private:
        friend class ChangeFeed;
        enum class State { Open, Lagged, Ended };
        mutable std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<Change> changes_;
        State state_ = State::Open;
    };

    ~ChangeFeed();

    // Hands `event` to every subscriber under the next id, from any thread;
    // never waits on a subscriber.
    void publish(ChangeEvent event);

    // A new subscriber that sees every change published from now on. The
    // feed keeps a reference until it is closed or the subscriber lags or
    // is unsubscribed.
    std::shared_ptr<Subscription> subscribe();
    // Ends the subscription and wakes its waiter, from any thread.
    void unsubscribe(const std::shared_ptr<Subscription>& subscription);
    // Takes a lagged subscription back: what it missed is discarded and it
    // sees every change published from now on. False, and nothing changed,
    // when it was ended or the feed is closed (the subscriber should stop).
    bool resubscribe(const std::shared_ptr<Subscription>& subscription);

    // Ends every subscription; later publishing reaches nobody.
    void close();

    // The id of the last change published (0 before the first): whoever
    // keeps a copy of what the changes describe compares it to know whether
    // its copy may be out of date.
    long long lastId() const;
    // How many changes of each kind were published, by the kind's index in
    // ChangeEvent: a copy of what only some kinds describe needs making
    // anew only when their counts moved.
    using KindCounts = std::array<long long, std::variant_size_v<ChangeEvent>>;
    KindCounts kindCounts() const;

  private:
    static void end(Subscription& subscription);

    mutable std::mutex mutex_;
    long long last_ = 0;
    KindCounts kindCounts_{};
    bool closed_ = false;
    std::vector<std::shared_ptr<Subscription>> subscribers_;
};

}  // namespace panelhost
