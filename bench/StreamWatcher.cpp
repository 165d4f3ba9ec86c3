#include "StreamWatcher.h"

#include <httplib.h>

namespace {
constexpr char kLoopback[] = "127.0.0.1";
// An event of the stream ends with an empty line.
constexpr char kEventEnd[] = "\n\n";
constexpr char kTypeField[] = "event: ";
constexpr char kDataField[] = "data: ";

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}
}  // namespace

StreamWatcher::StreamWatcher(int port, const std::string& token)
    : client_(std::make_unique<httplib::Client>(kLoopback, port)) {
    if (!token.empty()) {
        client_->set_bearer_token_auth(token);
    }
    reader_ = std::thread([this] { read(); });
}

StreamWatcher::~StreamWatcher() {
    client_->stop();
    reader_.join();
}

void StreamWatcher::read() {
    client_->Get("/api/stream", [this](const char* bytes, std::size_t length) {
        take(bytes, length, Clock::now());
        return true;
    });
}

void StreamWatcher::take(const char* bytes, std::size_t length, Clock::time_point at) {
    pending_.append(bytes, length);
    std::size_t end = 0;
    while ((end = pending_.find(kEventEnd)) != std::string::npos) {
        Arrival arrival{"", nullptr, at};
        std::size_t start = 0;
        while (start < end) {
            std::size_t lineEnd = pending_.find('\n', start);
            if (lineEnd == std::string::npos || lineEnd > end) {
                lineEnd = end;
            }
            const std::string line = pending_.substr(start, lineEnd - start);
            if (startsWith(line, kTypeField)) {
                arrival.type = line.substr(sizeof kTypeField - 1);
            } else if (startsWith(line, kDataField)) {
                arrival.data =
                    nlohmann::json::parse(line.substr(sizeof kDataField - 1), nullptr, false);
            }
            start = lineEnd + 1;
        }
        pending_.erase(0, end + sizeof kEventEnd - 1);
        if (!arrival.type.empty()) {
            const std::lock_guard<std::mutex> lock(mutex_);
            arrivals_.push_back(std::move(arrival));
        }
    }
    arrived_.notify_all();
}

void StreamWatcher::clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    arrivals_.clear();
}

std::optional<StreamWatcher::Clock::time_point> StreamWatcher::waitFor(
    const Match& matches, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        while (!arrivals_.empty()) {
            const Arrival arrival = std::move(arrivals_.front());
            arrivals_.pop_front();
            if (matches(arrival.type, arrival.data)) {
                return arrival.at;
            }
        }
        if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && arrivals_.empty()) {
            return std::nullopt;
        }
    }
}
