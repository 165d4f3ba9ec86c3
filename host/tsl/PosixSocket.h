#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tsl {

// A resolved socket address and its printable form ("127.0.0.1:8900").
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    std::string text;
};

// The POSIX socket calls the senders need, kept in one place so that the
// rest of the module is free of platform details. Owns one descriptor and
// closes it on destruction; move-only. Errors come back as readable text.
class PosixSocket {
  public:
    PosixSocket() = default;
    ~PosixSocket();
    PosixSocket(PosixSocket&& other) noexcept;
    PosixSocket& operator=(PosixSocket&& other) noexcept;
    PosixSocket(const PosixSocket&) = delete;
    PosixSocket& operator=(const PosixSocket&) = delete;

    // Every address `host` resolves to for a datagram or stream socket.
    // May block on a name lookup, so senders call it on their own thread.
    static bool resolve(const std::string& host, std::uint16_t port, bool stream,
                        std::vector<SocketAddress>& out, std::string& error);

    // A datagram socket for `address`'s family.
    static PosixSocket openDatagram(const SocketAddress& address, std::string& error);

    // A connected stream socket, giving up after `timeout` or as soon as
    // `cancelled` returns true (checked several times a second). The socket
    // has a send time-out of `sendTimeout`, so a stalled peer cannot hang
    // the sender, and Nagle's delay off, so small packets leave at once.
    static PosixSocket connectStream(const SocketAddress& address,
                                     std::chrono::milliseconds timeout,
                                     std::chrono::milliseconds sendTimeout,
                                     const std::function<bool()>& cancelled, std::string& error);

    bool valid() const { return fd_ >= 0; }
    void close();

    bool sendTo(const SocketAddress& address, const std::vector<std::uint8_t>& bytes,
                std::string& error) const;
    // Sends all of `bytes` on a stream socket.
    bool sendAll(const std::vector<std::uint8_t>& bytes, std::string& error) const;
    // Without waiting: true when the stream's peer has closed or reset it.
    // Anything the peer sent is read and discarded.
    bool peerHasClosed() const;

  private:
    explicit PosixSocket(int fd) : fd_(fd) {}

    int fd_ = -1;
};

}  // namespace tsl
