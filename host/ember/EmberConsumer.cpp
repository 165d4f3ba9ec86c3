#include "EmberConsumer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "GlowDecoder.h"
#include "S101Encoder.h"

namespace ember {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Providers on a studio network answer a connect within milliseconds; one
// that takes seconds is treated as absent and tried again later.
constexpr milliseconds kConnectTimeout{2000};
// A provider that stops reading for this long is treated as gone.
constexpr milliseconds kSendTimeout{2000};
// Bytes read from the socket at a time.
constexpr std::size_t kReadChunk = 16 * 1024;

int remainingMs(Clock::time_point deadline, Clock::time_point now) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now).count();
    return static_cast<int>(std::max<long long>(0, left));
}

}  // namespace

EmberConsumer::EmberConsumer(EmberEndpoint endpoint, EmberConsumerListener& listener)
    : endpoint_(std::move(endpoint)), listener_(listener), follower_(endpoint_.matrix, listener) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
    worker_ = std::thread([this] { run(); });
}

EmberConsumer::~EmberConsumer() {
    stopping_ = true;
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
    }
    worker_.join();
    if (wakeRead_ >= 0) {
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }
}

bool EmberConsumer::sleepUnlessStopped(milliseconds duration) const {
    const auto deadline = Clock::now() + duration;
    while (!stopping_) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return true;
        }
        pollfd p{wakeRead_, POLLIN, 0};
        ::poll(&p, 1, remainingMs(deadline, now));
    }
    return false;
}

void EmberConsumer::run() {
    while (!stopping_) {
        bool reachedModel = false;
        const std::string reason = session(reachedModel);
        if (stopping_) {
            break;
        }
        // A session that got as far as the model was news; a retry failing
        // the same way as the last one is not.
        if (reachedModel) {
            retry_ = kFirstRetry;
            lastReported_.clear();
        }
        const std::string text = reason + "; next try in " + std::to_string(retry_.count()) + " ms";
        if (reason != lastReported_) {
            lastReported_ = reason;
            listener_.onDisconnected(text);
        }
        if (!sleepUnlessStopped(retry_)) {
            break;
        }
        retry_ = std::min(retry_ * 2, kMaxRetry);
    }
    stream_.close();
}

bool EmberConsumer::send(const std::vector<std::uint8_t>& frame, std::string& reason) {
    std::string error;
    switch (stream_.sendAll(frame, error)) {
        case net::Socket::Sent::All:
            return true;
        case net::Socket::Sent::Stalled:
            reason = "the provider stopped reading";
            return false;
        case net::Socket::Sent::Failed:
            break;
    }
    reason = "sending failed: " + error;
    return false;
}

bool EmberConsumer::receive(const std::uint8_t* data, std::size_t size, std::string& reason) {
    std::vector<S101Decoder::Event> events;
    std::string error;
    const bool framed = decoder_.feed(data, size, events, error);
    // Events completed before a framing fault are still handled, in order.
    for (S101Decoder::Event& event : events) {
        switch (event.kind) {
            case S101Decoder::Event::Kind::KeepAliveRequest:
                if (!send(S101Encoder::keepAliveResponse(), reason)) {
                    return false;
                }
                break;
            case S101Decoder::Event::Kind::KeepAliveResponse:
                break;
            case S101Decoder::Event::Kind::Message: {
                std::vector<GlowElement> elements;
                if (!GlowDecoder::decode(event.payload, elements, error)) {
                    reason = "malformed data from " + stream_.peer() + ": " + error;
                    return false;
                }
                std::vector<std::vector<std::uint8_t>> requests;
                if (!follower_.handle(elements, requests, reason)) {
                    return false;
                }
                for (const auto& request : requests) {
                    for (const auto& frame : S101Encoder::message(request)) {
                        if (!send(frame, reason)) {
                            return false;
                        }
                    }
                    requestSent_ = Clock::now();
                }
                break;
            }
        }
    }
    if (!framed) {
        reason = "malformed data from " + stream_.peer() + ": " + error;
        return false;
    }
    return true;
}

std::string EmberConsumer::session(bool& reachedModel) {
    std::string reason;
    reachedModel = false;
    stream_ = net::Socket::connect(
        endpoint_.host, endpoint_.port, kConnectTimeout, kSendTimeout,
        [this] { return stopping_.load(); }, reason);
    if (!stream_.valid()) {
        return reason;
    }
    decoder_.reset();
    for (const auto& frame : S101Encoder::message(follower_.start())) {
        if (!send(frame, reason)) {
            stream_.close();
            return reason;
        }
    }
    requestSent_ = Clock::now();
    auto lastReceived = Clock::now();
    auto lastKeepAlive = lastReceived;
    std::vector<std::uint8_t> buffer(kReadChunk);
    while (!stopping_) {
        const auto now = Clock::now();
        if (now - lastReceived >= kSilenceLimit) {
            reason = "the provider sent nothing for " +
                     std::to_string(kSilenceLimit.count() / 1000) + " s";
            break;
        }
        if (follower_.waiting() && now - requestSent_ >= kRequestTimeout) {
            reason = "no answer to " + follower_.pendingText() + " within " +
                     std::to_string(kRequestTimeout.count() / 1000) + " s";
            break;
        }
        if (now - lastReceived >= kKeepAliveInterval && now - lastKeepAlive >= kKeepAliveInterval) {
            lastKeepAlive = now;
            if (!send(S101Encoder::keepAliveRequest(), reason)) {
                break;
            }
        }
        auto deadline = std::min(lastReceived + kSilenceLimit,
                                 std::max(lastReceived, lastKeepAlive) + kKeepAliveInterval);
        if (follower_.waiting()) {
            deadline = std::min(deadline, requestSent_ + kRequestTimeout);
        }
        pollfd fds[2] = {{stream_.fd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, remainingMs(deadline, now) + 1) <= 0 || (fds[0].revents == 0)) {
            continue;
        }
        std::string error;
        const long n = stream_.receive(buffer.data(), buffer.size(), error);
        if (n < 0) {
            reason =
                error.empty() ? "the provider closed the connection" : "receiving failed: " + error;
            break;
        }
        if (n == 0) {
            continue;
        }
        lastReceived = Clock::now();
        if (!receive(buffer.data(), static_cast<std::size_t>(n), reason)) {
            break;
        }
    }
    stream_.close();
    reachedModel = follower_.complete();
    return reason;
}

}  // namespace ember
