#include "StoreHealth.h"

#include <cstdio>

namespace panelhost {
namespace {

std::string secondsText(StoreHealth::Clock::duration took) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(took).count());
    return text;
}

}  // namespace

void StoreHealth::connected(const std::string& location, const std::string& server) {
    std::string line;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (everConnected_) {
            ++state_.reconnections;
        }
        if (state_.away) {
            line = "the database is back after " + secondsText(Clock::now() - awaySince_) +
                   ", on " + location;
        }
        state_.away.reset();
        state_.server = server;
        everConnected_ = true;
    }
    if (!line.empty()) {
        log_.add(0, "info", line);
    }
}

void StoreHealth::lost(const std::string& reason) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (state_.away) {
            return;
        }
        state_.away = reason;
        awaySince_ = Clock::now();
    }
    log_.add(0, "warning",
             "the database is away (" + reason +
                 "); writes are answered 503 and reads served from memory until it is back");
}

StoreHealth::State StoreHealth::state() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

}  // namespace panelhost
