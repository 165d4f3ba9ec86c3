#include "StreamFanOut.h"

#include <string>
#include <vector>

#include "ApiSnapshot.h"
#include "ChangeJson.h"

namespace panelhost {
namespace {

constexpr const char* kKeepAliveText = ": keep-alive\n\n";

}  // namespace

StreamFanOut::StreamFanOut(ChangeFeed& feed, HttpServer& server, EventLog& log,
                           SnapshotFence& fence)
    : feed_(feed),
      server_(server),
      log_(log),
      fence_(fence),
      subscription_(feed.subscribe()),
      lastReport_(std::chrono::steady_clock::now()),
      thread_([this] { run(); }) {}

StreamFanOut::~StreamFanOut() {
    stopping_ = true;
    // Wakes the thread at once rather than at its next keep-alive.
    feed_.unsubscribe(subscription_);
    thread_.join();
}

void StreamFanOut::run() {
    while (!stopping_) {
        const std::vector<Change> changes = subscription_->wait(kKeepAlive);
        if (changes.empty() && subscription_->closed()) {
            // Ended (shutdown, or the feed closed): nothing more to send.
            if (!subscription_->lagged() || !feed_.resubscribe(subscription_)) {
                break;
            }
            // Dropped for lag: the streams missed changes, so they are
            // closed; their pages reconnect and read everything afresh.
            log_.add(0, "warning", "the event streams fell behind the changes and start afresh");
            server_.closeStreams();
            continue;
        }
        long long shown = 0;
        for (const Change& change : changes) {
            if (ApiSnapshot::shows(change.event)) {
                shown = change.id;
            }
        }
        if (shown > 0) {
            fence_.waitFor(shown);
        }
        // Each change is formatted here once, for every stream alike.
        std::string text = changes.empty() ? kKeepAliveText : "";
        for (const Change& change : changes) {
            text += changeStreamText(change);
        }
        server_.broadcast(text);
        report();
    }
    feed_.unsubscribe(subscription_);
}

void StreamFanOut::report() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReport_ < kReportEvery) {
        return;
    }
    lastReport_ = now;
    const std::size_t lagged = server_.takeLagged();
    const std::size_t refused = server_.takeRefused();
    if (lagged > 0) {
        log_.add(0, "warning",
                 "closed " + std::to_string(lagged) +
                     " event streams whose clients fell behind; their pages reconnect");
    }
    if (refused > 0) {
        log_.add(0, "warning",
                 "refused " + std::to_string(refused) + " event streams: " +
                     std::to_string(server_.streams()) + " are open, the most this host serves");
    }
}

}  // namespace panelhost
