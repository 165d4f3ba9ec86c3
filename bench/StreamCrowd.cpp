#include "StreamCrowd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kServed = "HTTP/1.1 200 OK\r\n";
// How long the reader waits for data before it looks whether to stop.
constexpr int kPollMilliseconds = 50;
constexpr int kEventsPerWait = 256;
constexpr std::size_t kReadSize = 16 * 1024;

int connectTo(int port, const std::string& token) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, kLoopback, &address.sin_addr);
    const std::string request =
        "GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nAuthorization: Bearer " + token + "\r\n\r\n";
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
        if (fd >= 0) {
            close(fd);
        }
        throw std::runtime_error("cannot open an event stream on port " + std::to_string(port));
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

}  // namespace

StreamCrowd::StreamCrowd(int port, std::size_t count, const std::string& token)
    : streams_(count), expected_(kServed) {
    epoll_ = epoll_create1(0);
    try {
        for (std::size_t i = 0; i < count; ++i) {
            streams_[i].fd = connectTo(port, token);
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = i;
            epoll_ctl(epoll_, EPOLL_CTL_ADD, streams_[i].fd, &event);
        }
    } catch (...) {
        for (const Stream& stream : streams_) {
            if (stream.fd >= 0) {
                close(stream.fd);
            }
        }
        close(epoll_);
        throw;
    }
    reader_ = std::thread([this] { read(); });
}

StreamCrowd::~StreamCrowd() {
    stopping_ = true;
    reader_.join();
    for (const Stream& stream : streams_) {
        close(stream.fd);
    }
    close(epoll_);
}

void StreamCrowd::expect(const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    expected_ = text;
    seenCount_ = 0;
    for (Stream& stream : streams_) {
        stream.seen = false;
        stream.tail.clear();
    }
}

std::optional<StreamCrowd::Clock::time_point> StreamCrowd::waitAll(
    std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!allSeen_.wait_for(lock, timeout, [this] { return seenCount_ == streams_.size(); })) {
        return std::nullopt;
    }
    return lastSeen_;
}

void StreamCrowd::read() {
    std::array<epoll_event, kEventsPerWait> events{};
    std::vector<char> buffer(kReadSize);
    while (!stopping_) {
        const int ready = epoll_wait(epoll_, events.data(), kEventsPerWait, kPollMilliseconds);
        for (int i = 0; i < ready; ++i) {
            Stream& stream = streams_[events[static_cast<std::size_t>(i)].data.u64];
            ssize_t count = 0;
            while ((count = recv(stream.fd, buffer.data(), buffer.size(), 0)) > 0) {
                take(stream, buffer.data(), static_cast<std::size_t>(count));
            }
            if (count == 0) {
                // Closed by the host: no more to read from it.
                epoll_ctl(epoll_, EPOLL_CTL_DEL, stream.fd, nullptr);
            }
        }
    }
}

void StreamCrowd::take(Stream& stream, const char* bytes, std::size_t length) {
    const Clock::time_point at = Clock::now();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stream.seen || expected_.empty()) {
        return;
    }
    stream.tail.append(bytes, length);
    if (stream.tail.find(expected_) != std::string::npos) {
        stream.seen = true;
        lastSeen_ = at;
        if (++seenCount_ == streams_.size()) {
            allSeen_.notify_all();
        }
        stream.tail.clear();
    } else if (stream.tail.size() >= expected_.size()) {
        stream.tail.erase(0, stream.tail.size() - (expected_.size() - 1));
    }
}
