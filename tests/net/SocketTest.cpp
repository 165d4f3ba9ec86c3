// The sockets the TSL senders and the Ember+ consumer share, against a
// listener on the loopback interface and descriptors that refuse the
// stream's options.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Socket.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kTimeout = 5s;
// No process has this many descriptors open, so it names none.
constexpr int kUnusedDescriptor = 1 << 20;

// A TCP listener on 127.0.0.1 at a free port, closed on destruction.
class Listener {
  public:
    Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, 1), 0);
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t port() const { return port_; }
    net::Socket accept() const {
        return net::Socket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
    }

  private:
    int fd_;
    std::uint16_t port_ = 0;
};

int intOption(int fd, int level, int name) {
    int value = 0;
    socklen_t length = sizeof value;
    EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0);
    return value;
}

bool readable(const net::Socket& socket) {
    pollfd p{socket.fd(), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kTimeout).count())) == 1;
}

TEST(SocketTest, ConnectsSetsTheStreamUpAndSeesThePeerClose) {
    const Listener listener;
    std::string error;
    net::Socket client =
        net::Socket::connect("127.0.0.1", listener.port(), kTimeout, 2s, nullptr, error);
    ASSERT_TRUE(client.valid()) << error;
    EXPECT_EQ(client.peer(), "127.0.0.1:" + std::to_string(listener.port()));
    EXPECT_EQ(::fcntl(client.fd(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(intOption(client.fd(), IPPROTO_TCP, TCP_NODELAY), 1);
    timeval sendTimeout{};
    socklen_t length = sizeof sendTimeout;
    ::getsockopt(client.fd(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, &length);
    EXPECT_EQ(sendTimeout.tv_sec, 2);

    net::Socket server = listener.accept();
    ASSERT_TRUE(server.valid());
    const std::vector<std::uint8_t> hello{'h', 'i'};
    EXPECT_EQ(client.sendAll(hello, error), net::Socket::Sent::All);
    ASSERT_TRUE(readable(server));
    std::uint8_t buffer[8];
    EXPECT_EQ(server.receive(buffer, sizeof buffer, error), 2);
    EXPECT_EQ(server.receive(buffer, sizeof buffer, error), 0);
    EXPECT_FALSE(client.peerHasClosed());
    server.close();
    ASSERT_TRUE(readable(client));
    EXPECT_TRUE(client.peerHasClosed());
}

TEST(SocketTest, ARefusedConnectionSaysWhere) {
    std::uint16_t port = 0;
    {
        const Listener closed;
        port = closed.port();
    }
    std::string error;
    EXPECT_FALSE(net::Socket::connect("127.0.0.1", port, kTimeout, 1s, nullptr, error).valid());
    EXPECT_EQ(error,
              "cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
}

// Each option of a stream is checked: a descriptor that refuses one fails
// the set-up, naming the call and the system's reason.
TEST(SocketTest, AStreamOptionThatCannotBeSetIsReportedByName) {
    std::string error;
    EXPECT_FALSE(net::Socket(kUnusedDescriptor).configureStream(1s, error));
    EXPECT_EQ(error, "fcntl(F_GETFL): Bad file descriptor");

    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const net::Socket pipeEnd(ends[0]);
    ::close(ends[1]);
    EXPECT_FALSE(pipeEnd.configureStream(1s, error));
    EXPECT_EQ(error, "setsockopt(SO_SNDTIMEO): Socket operation on non-socket");

    const net::Socket datagram(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    EXPECT_FALSE(datagram.configureStream(1s, error));
    EXPECT_EQ(error.rfind("setsockopt(TCP_NODELAY): ", 0), 0u) << error;
}

}  // namespace
