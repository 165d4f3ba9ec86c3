#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace panelhost {

// One change as the event stream sends it: `type` names it (control, panel,
// instance, slot, database, log, tsl) and `data` is its JSON object.
struct Change {
    long long id = 0;
    std::string type;
    std::string data;
};

// Fans every change out to the subscribers of the event stream. Publishing
// never blocks on a subscriber: a subscriber that falls too far behind is
// dropped (its subscription is closed, see closed()) and must reconnect.
// Thread-safe.
class ChangeFeed {
  public:
    // How many changes one subscriber may have waiting.
    static constexpr std::size_t kBacklog = 20000;

    class Subscription {
      public:
        // Waits up to `timeout` for changes and takes them all. Returns an
        // empty list on time-out, and when the feed is closed or the
        // subscriber lagged (see closed()).
        std::vector<Change> wait(std::chrono::milliseconds timeout);
        bool closed() const;

      private:
        friend class ChangeFeed;
        mutable std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<Change> changes_;
        bool closed_ = false;
    };

    ~ChangeFeed();

    void publish(const std::string& type, const nlohmann::json& data);

    // A new subscriber that sees every change published from now on. The
    // feed keeps a reference until it is closed or the subscriber lags.
    std::shared_ptr<Subscription> subscribe();
    void unsubscribe(const std::shared_ptr<Subscription>& subscription);

    // Ends every subscription; later publishing reaches nobody.
    void close();

  private:
    std::mutex mutex_;
    long long last_ = 0;
    bool closed_ = false;
    std::vector<std::shared_ptr<Subscription>> subscribers_;
};

}  // namespace panelhost
