#include "PosixSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace tsl {
namespace {

// How often a pending connect looks at its cancel flag.
constexpr std::chrono::milliseconds kConnectPollSlice{100};
// Bytes read at a time when draining what a peer sent us, and how many
// reads one check makes at most, so a chatty peer cannot hold the sender.
constexpr std::size_t kDrainChunk = 512;
constexpr int kMaxDrainReads = 16;

std::string errnoText(int error) {
    return std::system_category().message(error);
}

std::string describe(const sockaddr* address) {
    char host[INET6_ADDRSTRLEN] = {};
    std::uint16_t port = 0;
    if (address->sa_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, address, sizeof v4);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        port = ntohs(v4.sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    sockaddr_in6 v6{};
    std::memcpy(&v6, address, sizeof v6);
    inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
    port = ntohs(v6.sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

timeval toTimeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    return tv;
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

PosixSocket::~PosixSocket() {
    close();
}

PosixSocket::PosixSocket(PosixSocket&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

PosixSocket& PosixSocket::operator=(PosixSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void PosixSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool PosixSocket::resolve(const std::string& host, std::uint16_t port, bool stream,
                          std::vector<SocketAddress>& out, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
        return false;
    }
    out.clear();
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) {
            continue;
        }
        SocketAddress address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        address.text = describe(a->ai_addr);
        out.push_back(address);
    }
    ::freeaddrinfo(list);
    if (out.empty()) {
        error = "cannot resolve " + host + ": no IPv4 or IPv6 address";
        return false;
    }
    return true;
}

PosixSocket PosixSocket::openDatagram(const SocketAddress& address, std::string& error) {
    const int fd = ::socket(address.storage.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot open a UDP socket: " + errnoText(errno);
    }
    return PosixSocket(fd);
}

PosixSocket PosixSocket::connectStream(const SocketAddress& address,
                                       std::chrono::milliseconds timeout,
                                       std::chrono::milliseconds sendTimeout,
                                       const std::function<bool()>& cancelled, std::string& error) {
    PosixSocket s(
        ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.valid()) {
        error = "cannot open a TCP socket: " + errnoText(errno);
        return s;
    }
    int rc = ::connect(s.fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
    if (rc != 0 && errno != EINPROGRESS) {
        error = "cannot connect to " + address.text + ": " + errnoText(errno);
        return PosixSocket();
    }
    if (rc != 0) {
        rc = finishConnect(s.fd_, timeout, cancelled);
        if (rc != 0) {
            error = "cannot connect to " + address.text + ": " + errnoText(rc);
            return PosixSocket();
        }
    }
    const int flags = ::fcntl(s.fd_, F_GETFL);
    ::fcntl(s.fd_, F_SETFL, flags & ~O_NONBLOCK);
    const timeval tv = toTimeval(sendTimeout);
    ::setsockopt(s.fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int on = 1;
    ::setsockopt(s.fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return s;
}

bool PosixSocket::sendTo(const SocketAddress& address, const std::vector<std::uint8_t>& bytes,
                         std::string& error) const {
    const ssize_t sent =
        ::sendto(fd_, bytes.data(), bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&address.storage), address.length);
    if (sent < 0) {
        error = "cannot send to " + address.text + ": " + errnoText(errno);
        return false;
    }
    return true;
}

bool PosixSocket::sendAll(const std::vector<std::uint8_t>& bytes, std::string& error) const {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent =
            ::send(fd_, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int e = errno;
            error = e == EAGAIN || e == EWOULDBLOCK ? "the receiver stopped reading" : errnoText(e);
            return false;
        }
        offset += static_cast<std::size_t>(sent);
    }
    return true;
}

bool PosixSocket::peerHasClosed() const {
    char buffer[kDrainChunk];
    for (int read = 0; read < kMaxDrainReads; ++read) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return true;
        }
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
    return false;
}

}  // namespace tsl
