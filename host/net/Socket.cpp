#include "Socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace net {
namespace {

// How often a pending connect looks at its cancel flag.
constexpr std::chrono::milliseconds kConnectPollSlice{100};
// Bytes read at a time when draining what a peer sent, and how many reads
// one check makes at most, so a chatty peer cannot hold its caller.
constexpr std::size_t kDrainChunk = 512;
constexpr int kMaxDrainReads = 16;

std::string errnoText(int error) {
    return std::system_category().message(error);
}

// "CALL: reason" for the errno a failed call left.
std::string failed(const char* call) {
    return std::string(call) + ": " + errnoText(errno);
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

Socket::Socket(int fd, std::string peer) : fd_(fd), peer_(std::move(peer)) {}

Socket::~Socket() {
    close();
}

Socket::Socket(Socket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), peer_(std::move(other.peer_)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        peer_ = std::move(other.peer_);
    }
    return *this;
}

void Socket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Socket Socket::openDatagram(const SocketAddress& address, std::string& error) {
    const int fd = ::socket(address.storage.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot open a UDP socket: " + errnoText(errno);
    }
    return Socket(fd);
}

Socket Socket::connect(const std::string& host, std::uint16_t port,
                       std::chrono::milliseconds timeout, std::chrono::milliseconds sendTimeout,
                       const std::function<bool()>& cancelled, std::string& error) {
    std::vector<SocketAddress> addresses;
    if (!SocketAddress::resolve(host, port, true, addresses, error)) {
        return Socket();
    }
    for (const SocketAddress& address : addresses) {
        Socket s = connectTo(address, timeout, sendTimeout, cancelled, error);
        if (s.valid()) {
            error.clear();
            return s;
        }
    }
    return Socket();
}

Socket Socket::connectTo(const SocketAddress& address, std::chrono::milliseconds timeout,
                         std::chrono::milliseconds sendTimeout,
                         const std::function<bool()>& cancelled, std::string& error) {
    Socket s(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0),
             address.text);
    if (!s.valid()) {
        error = "cannot open a TCP socket: " + errnoText(errno);
        return Socket();
    }
    int result =
        ::connect(s.fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0
            ? 0
            : errno;
    if (result == EINPROGRESS) {
        result = finishConnect(s.fd_, timeout, cancelled);
    }
    if (result != 0) {
        error = "cannot connect to " + address.text + ": " + errnoText(result);
        return Socket();
    }
    std::string why;
    if (!s.configureStream(sendTimeout, why)) {
        error = "cannot set up the connection to " + address.text + ": " + why;
        return Socket();
    }
    return s;
}

bool Socket::configureStream(std::chrono::milliseconds sendTimeout, std::string& error) const {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0) {
        error = failed("fcntl(F_GETFL)");
        return false;
    }
    if (::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = failed("fcntl(F_SETFL)");
        return false;
    }
    const timeval tv = toTimeval(sendTimeout);
    if (::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
        error = failed("setsockopt(SO_SNDTIMEO)");
        return false;
    }
    const int on = 1;
    if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        error = failed("setsockopt(TCP_NODELAY)");
        return false;
    }
    return true;
}

bool Socket::sendTo(const SocketAddress& address, const std::vector<std::uint8_t>& bytes,
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

Socket::Sent Socket::sendAll(const std::vector<std::uint8_t>& bytes, std::string& error) const {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent =
            ::send(fd_, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return Sent::Stalled;
            }
            error = errnoText(errno);
            return Sent::Failed;
        }
        offset += static_cast<std::size_t>(sent);
    }
    return Sent::All;
}

long Socket::receive(std::uint8_t* buffer, std::size_t size, std::string& error) const {
    while (true) {
        const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n == 0) {
            error.clear();
            return -1;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        error = errnoText(errno);
        return -1;
    }
}

Socket Socket::bindAny(bool stream, std::uint16_t port, std::string& error) {
    const int type = (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC;
    int fd = ::socket(AF_INET6, type, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (fd >= 0) {
        const int no = 0;
        if (::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no) != 0) {
            error = failed("setsockopt(IPV6_V6ONLY)");
            ::close(fd);
            return Socket();
        }
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        any.sin6_port = htons(port);
        std::memcpy(&address, &any, sizeof any);
        length = sizeof any;
    } else {
        fd = ::socket(AF_INET, type, 0);
        if (fd < 0) {
            error = failed("socket");
            return Socket();
        }
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        any.sin_port = htons(port);
        std::memcpy(&address, &any, sizeof any);
        length = sizeof any;
    }
    Socket socket(fd);
    const int yes = 1;
    if (stream && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) {
        error = failed("setsockopt(SO_REUSEADDR)");
        return Socket();
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        error = failed("bind");
        return Socket();
    }
    if (stream && ::listen(fd, SOMAXCONN) != 0) {
        error = failed("listen");
        return Socket();
    }
    return socket;
}

Socket Socket::acceptPeer(std::string& error) const {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    for (;;) {
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            error.clear();
            return Socket(fd, SocketAddress::hostOf(peer));
        }
        if (errno == EINTR) {
            continue;
        }
        error = errno == EAGAIN || errno == EWOULDBLOCK ? std::string() : failed("accept");
        return Socket();
    }
}

long Socket::receiveFrom(std::uint8_t* buffer, std::size_t size, std::string& sender,
                         std::string& error) const {
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, size, MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n >= 0) {
            sender = SocketAddress::hostOf(from);
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        error = failed("recvfrom");
        return -1;
    }
}

bool Socket::peerHasClosed() const {
    std::uint8_t buffer[kDrainChunk];
    std::string error;
    for (int read = 0; read < kMaxDrainReads; ++read) {
        const long n = receive(buffer, sizeof buffer, error);
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            return true;
        }
    }
    return false;
}

}  // namespace net
