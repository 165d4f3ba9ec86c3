// The UDP and TCP senders against receivers on the loopback interface.
// Waits are bounded by generous deadlines; nothing here measures time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TcpTslSender.h"
#include "TslEncoder.h"
#include "UdpTslSender.h"

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr auto kDeadline = 15s;

// A loopback socket of the test's own, closed on destruction.
class TestSocket {
  public:
    explicit TestSocket(int type) : fd_(::socket(AF_INET, type, 0)) {}
    explicit TestSocket(int fd, bool) : fd_(fd) {}
    ~TestSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    // Binds to 127.0.0.1 on `port` (0: any free port); returns the port.
    std::uint16_t bind(std::uint16_t port = 0) {
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        return ntohs(a.sin_port);
    }

    bool readable(std::chrono::milliseconds timeout) const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
    }

    // One datagram, or nothing by the deadline.
    Bytes receiveDatagram() const {
        Bytes buffer(4096);
        if (!readable(kDeadline)) {
            return {};
        }
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }

    // Exactly `count` stream bytes, or fewer if the deadline passes first.
    Bytes receiveStream(std::size_t count) const {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            if (!readable(100ms)) {
                continue;
            }
            std::uint8_t buffer[512];
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - out.size()), 0);
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    int accept() const {
        if (!readable(kDeadline)) {
            return -1;
        }
        return ::accept(fd_, nullptr, nullptr);
    }

    int fd() const { return fd_; }

  private:
    int fd_;
};

template <typename Predicate>
bool eventually(Predicate done) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A port on which nothing listens right now.
std::uint16_t unusedPort() {
    TestSocket probe(SOCK_STREAM);
    return probe.bind();
}

}  // namespace

TEST(UdpTslSender, OneDatagramPerPacketUnframedByDefault) {
    TestSocket receiver(SOCK_DGRAM);
    const std::uint16_t port = receiver.bind();
    tsl::UdpTslSender sender("127.0.0.1", port, false, nullptr);
    sender.send({0x01, 0xFE, 0x03});
    sender.send({0x04});
    EXPECT_EQ(receiver.receiveDatagram(), (Bytes{0x01, 0xFE, 0x03}));
    EXPECT_EQ(receiver.receiveDatagram(), (Bytes{0x04}));
    EXPECT_TRUE(sender.flush(kDeadline));
    EXPECT_EQ(sender.status().packetsSent, 2u);
    EXPECT_EQ(sender.status().state, tsl::TslLinkState::Ok);
    EXPECT_EQ(sender.status().target, "udp:127.0.0.1:" + std::to_string(port));
}

TEST(UdpTslSender, OptionalDleStxFraming) {
    TestSocket receiver(SOCK_DGRAM);
    tsl::UdpTslSender sender("127.0.0.1", receiver.bind(), true, nullptr);
    sender.send({0x01, 0xFE});
    EXPECT_EQ(receiver.receiveDatagram(), (Bytes{0xFE, 0x02, 0x01, 0xFE, 0xFE}));
}

TEST(UdpTslSender, AFailedSendIsReportedAndSendingGoesOn) {
    TestSocket receiver(SOCK_DGRAM);
    std::atomic<int> errors{0};
    tsl::UdpTslSender sender("127.0.0.1", receiver.bind(), false,
                             [&](const tsl::TslTransportStatus& s) {
                                 errors += s.state == tsl::TslLinkState::Error ? 1 : 0;
                             });
    sender.send(Bytes(70000, 0x55));  // larger than any datagram can be
    sender.send({0x09});
    EXPECT_EQ(receiver.receiveDatagram(), (Bytes{0x09}));
    EXPECT_TRUE(sender.flush(kDeadline));
    EXPECT_EQ(errors.load(), 1);
    EXPECT_EQ(sender.status().packetsDropped, 1u);
    EXPECT_EQ(sender.status().packetsSent, 1u);
    EXPECT_EQ(sender.status().state, tsl::TslLinkState::Ok);
}

TEST(TcpTslSender, SendsFramedPacketsOnOneConnection) {
    TestSocket listener(SOCK_STREAM);
    const std::uint16_t port = listener.bind();
    ASSERT_EQ(::listen(listener.fd(), 1), 0);
    tsl::TcpTslSender sender("127.0.0.1", port, nullptr);
    const Bytes first = {0x02, 0x00, 0xFE, 0x01};
    const Bytes second = {0x00};
    sender.send(first);
    sender.send(second);

    TestSocket peer(listener.accept(), true);
    Bytes expected = tsl::TslEncoder::frameForStream(first);
    const Bytes framedSecond = tsl::TslEncoder::frameForStream(second);
    expected.insert(expected.end(), framedSecond.begin(), framedSecond.end());
    EXPECT_EQ(peer.receiveStream(expected.size()), expected);
    EXPECT_TRUE(sender.flush(kDeadline));
    EXPECT_EQ(sender.status().state, tsl::TslLinkState::Ok);
}

TEST(TcpTslSender, RetriesUntilTheReceiverAppearsAndLosesNothing) {
    const std::uint16_t port = unusedPort();
    std::atomic<int> errors{0};
    tsl::TcpTslSender sender("127.0.0.1", port, [&](const tsl::TslTransportStatus& s) {
        errors += s.state == tsl::TslLinkState::Error ? 1 : 0;
    });
    sender.send({0x07});
    ASSERT_TRUE(eventually([&] { return errors.load() >= 2; }));
    EXPECT_FALSE(sender.flush(0ms));
    const tsl::TslTransportStatus status = sender.status();
    EXPECT_EQ(status.state, tsl::TslLinkState::Error);
    EXPECT_NE(status.detail.find("next try in"), std::string::npos) << status.detail;

    TestSocket listener(SOCK_STREAM);
    listener.bind(port);
    ASSERT_EQ(::listen(listener.fd(), 1), 0);
    TestSocket peer(listener.accept(), true);
    EXPECT_EQ(peer.receiveStream(3), (Bytes{0xFE, 0x02, 0x07}));
    EXPECT_TRUE(sender.flush(kDeadline));
}

TEST(TcpTslSender, ReconnectsWhenTheReceiverDropsTheConnection) {
    TestSocket listener(SOCK_STREAM);
    const std::uint16_t port = listener.bind();
    ASSERT_EQ(::listen(listener.fd(), 2), 0);
    tsl::TcpTslSender sender("127.0.0.1", port, nullptr);
    sender.send({0x01});
    {
        TestSocket first(listener.accept(), true);
        ASSERT_EQ(first.receiveStream(3), (Bytes{0xFE, 0x02, 0x01}));
    }
    ASSERT_TRUE(eventually([&] { return sender.status().state == tsl::TslLinkState::Error; }));
    sender.send({0x02});
    TestSocket second(listener.accept(), true);
    EXPECT_EQ(second.receiveStream(3), (Bytes{0xFE, 0x02, 0x02}));
}
