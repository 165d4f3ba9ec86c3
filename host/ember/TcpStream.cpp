#include "TcpStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace ember {
namespace {

// How often a pending connect looks at its cancel flag.
constexpr std::chrono::milliseconds kConnectPollSlice{100};

std::string errnoText(int error) {
    return std::system_category().message(error);
}

std::string describe(const sockaddr* address) {
    char host[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, address, sizeof v4);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
    }
    sockaddr_in6 v6{};
    std::memcpy(&v6, address, sizeof v6);
    inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
}

// Waits for a non-blocking connect to finish; 0 on success, else an errno.
int finishConnect(int fd, std::chrono::milliseconds timeout,
                  const std::function<bool()>& cancelled) {
    auto left = timeout;
    while (left.count() > 0) {
        if (cancelled && cancelled()) {
            return ECANCELED;
        }
        const auto slice = std::min(left, kConnectPollSlice);
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(slice.count()));
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
        if (ready > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                return errno;
            }
            return error;
        }
        left -= slice;
    }
    return ETIMEDOUT;
}

}  // namespace

TcpStream::~TcpStream() {
    close();
}

TcpStream::TcpStream(TcpStream&& other) noexcept : fd_(other.fd_), peer_(std::move(other.peer_)) {
    other.fd_ = -1;
}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        peer_ = std::move(other.peer_);
        other.fd_ = -1;
    }
    return *this;
}

void TcpStream::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

TcpStream TcpStream::connect(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds timeout,
                             std::chrono::milliseconds sendTimeout,
                             const std::function<bool()>& cancelled, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
        return TcpStream();
    }
    error = "cannot resolve " + host + ": no IPv4 or IPv6 address";
    TcpStream s;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) {
            continue;
        }
        const std::string text = describe(a->ai_addr);
        s.fd_ = ::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (s.fd_ < 0) {
            error = "cannot open a TCP socket: " + errnoText(errno);
            continue;
        }
        int result = ::connect(s.fd_, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (result == EINPROGRESS) {
            result = finishConnect(s.fd_, timeout, cancelled);
        }
        if (result != 0) {
            error = "cannot connect to " + text + ": " + errnoText(result);
            s.close();
            continue;
        }
        s.peer_ = text;
        break;
    }
    ::freeaddrinfo(list);
    if (!s.valid()) {
        return s;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(sendTimeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((sendTimeout.count() % 1000) * 1000);
    ::setsockopt(s.fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int on = 1;
    ::setsockopt(s.fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const int flags = ::fcntl(s.fd_, F_GETFL);
    ::fcntl(s.fd_, F_SETFL, flags & ~O_NONBLOCK);
    error.clear();
    return s;
}

bool TcpStream::sendAll(const std::vector<std::uint8_t>& bytes, std::string& error) const {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent =
            ::send(fd_, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int e = errno;
            error = e == EAGAIN || e == EWOULDBLOCK ? "the provider stopped reading"
                                                    : "sending failed: " + errnoText(e);
            return false;
        }
        offset += static_cast<std::size_t>(sent);
    }
    return true;
}

long TcpStream::receive(std::uint8_t* buffer, std::size_t size, std::string& error) const {
    while (true) {
        const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n == 0) {
            error = "the provider closed the connection";
            return -1;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        error = "receiving failed: " + errnoText(errno);
        return -1;
    }
}

}  // namespace ember
