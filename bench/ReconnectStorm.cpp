#include "ReconnectStorm.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr const char* kLoopback = "127.0.0.1";
// The page's requests, in the order it makes them; the last is its stream.
constexpr std::array<const char*, 4> kSteps = {"/api/session", "/api/panels", "/api/wall",
                                               "/api/stream"};
constexpr std::size_t kStreamStep = kSteps.size() - 1;
constexpr int kEventsPerWait = 256;
// How long a wait for answers lasts before the deadline is looked at.
constexpr int kPollMilliseconds = 50;
constexpr std::size_t kReadSize = 64 * 1024;
constexpr const char* kHeadEnd = "\r\n\r\n";

struct Page {
    int fd = -1;
    std::size_t step = 0;
    std::string pending;  // what is still to be sent
    std::string received;
    bool done = false;
};

std::string request(int port, const std::string& token, std::size_t step) {
    return std::string("GET ") + kSteps[step] + " HTTP/1.1\r\nHost: " + kLoopback + ":" +
           std::to_string(port) + "\r\nAuthorization: Bearer " + token + "\r\n\r\n";
}

// The Content-Length of a head (lower or mixed case); 0 when it has none.
std::size_t contentLength(const std::string& head) {
    for (const char* name : {"Content-Length: ", "content-length: "}) {
        const std::size_t at = head.find(name);
        if (at != std::string::npos) {
            return std::stoul(head.substr(at + std::char_traits<char>::length(name)));
        }
    }
    return 0;
}

}  // namespace

ReconnectStorm::ReconnectStorm(int port, std::vector<std::string> tokens)
    : port_(port), tokens_(std::move(tokens)) {}

ReconnectStorm::Outcome ReconnectStorm::run(std::chrono::milliseconds timeout) {
    Outcome outcome;
    std::vector<Page> pages(tokens_.size());
    const int epoll = epoll_create1(0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    inet_pton(AF_INET, kLoopback, &address.sin_addr);
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        Page& page = pages[i];
        page.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const int on = 1;
        setsockopt(page.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (page.fd < 0 ||
            (connect(page.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
             errno != EINPROGRESS)) {
            close(epoll);
            for (const Page& opened : pages) {
                if (opened.fd >= 0) {
                    close(opened.fd);
                }
            }
            throw std::runtime_error("cannot connect to port " + std::to_string(port_));
        }
        page.pending = request(port_, tokens_[i], 0);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT;
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, page.fd, &event);
    }
    const auto fail = [&](Page& page, const std::string& why) {
        if (outcome.refused++ == 0) {
            outcome.firstRefusal = std::string(kSteps[page.step]) + ": " + why;
        }
        page.done = true;
        epoll_ctl(epoll, EPOLL_CTL_DEL, page.fd, nullptr);
    };
    std::array<epoll_event, kEventsPerWait> events{};
    std::vector<char> buffer(kReadSize);
    const Clock::time_point deadline = start + timeout;
    while (outcome.live + outcome.refused < pages.size() && Clock::now() < deadline) {
        const int ready = epoll_wait(epoll, events.data(), kEventsPerWait, kPollMilliseconds);
        for (int e = 0; e < ready; ++e) {
            Page& page = pages[events[static_cast<std::size_t>(e)].data.u64];
            if (page.done) {
                continue;
            }
            if (!page.pending.empty()) {
                const ssize_t sent =
                    send(page.fd, page.pending.data(), page.pending.size(), MSG_NOSIGNAL);
                if (sent > 0) {
                    page.pending.erase(0, static_cast<std::size_t>(sent));
                    if (page.pending.empty()) {
                        // Connected and sent: from now on only answers.
                        epoll_event event = events[static_cast<std::size_t>(e)];
                        event.events = EPOLLIN;
                        epoll_ctl(epoll, EPOLL_CTL_MOD, page.fd, &event);
                    }
                } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    fail(page, "the connection failed");
                    continue;
                }
            }
            ssize_t count = 0;
            while ((count = recv(page.fd, buffer.data(), buffer.size(), 0)) > 0) {
                page.received.append(buffer.data(), static_cast<std::size_t>(count));
            }
            if (count == 0) {
                fail(page, "closed by the host");
                continue;
            }
            const std::size_t headEnd = page.received.find(kHeadEnd);
            if (headEnd == std::string::npos) {
                continue;
            }
            const std::string head = page.received.substr(0, headEnd);
            if (head.rfind("HTTP/1.1 200", 0) != 0) {
                fail(page, head.substr(0, head.find('\r')));
                continue;
            }
            if (page.step == kStreamStep) {
                ++outcome.live;
                outcome.allLive = Clock::now() - start;
                page.done = true;
                epoll_ctl(epoll, EPOLL_CTL_DEL, page.fd, nullptr);
                continue;
            }
            const std::size_t whole =
                headEnd + std::char_traits<char>::length(kHeadEnd) + contentLength(head);
            if (page.received.size() < whole) {
                continue;
            }
            page.received.erase(0, whole);
            page.pending =
                request(port_, tokens_[events[static_cast<std::size_t>(e)].data.u64], ++page.step);
            // A request of a few hundred bytes fits the socket's buffer.
            if (send(page.fd, page.pending.data(), page.pending.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(page.pending.size())) {
                fail(page, "the request could not be sent");
                continue;
            }
            page.pending.clear();
        }
    }
    close(epoll);
    for (const Page& page : pages) {
        close(page.fd);
    }
    return outcome;
}
