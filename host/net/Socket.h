#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SocketAddress.h"

namespace net {

// One socket descriptor: a UDP socket, or a TCP stream connected to a peer.
// Owns the descriptor and closes it on destruction; move-only. Used by one
// thread at a time. Errors come back as readable text; a failing system
// call is named in it ("setsockopt(TCP_NODELAY): Bad file descriptor").
class Socket {
  public:
    // How a stream send ended.
    enum class Sent {
        All,      // every byte is handed to the kernel
        Stalled,  // the peer took nothing for the send time-out
        Failed,   // the connection failed; the error says why
    };

    Socket() = default;
    // Takes ownership of `fd`; `peer` is how the other end is named.
    explicit Socket(int fd, std::string peer = {});
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A datagram socket for `address`'s family.
    static Socket openDatagram(const SocketAddress& address, std::string& error);

    // A datagram socket, or a listening stream socket, bound to `port` on
    // every local IPv6 and IPv4 address (IPv4 alone where the machine has
    // no IPv6). Invalid, with the call that failed in `error`, when the
    // port cannot be had.
    static Socket bindAny(bool stream, std::uint16_t port, std::string& error);
    // Takes a pending connection of a listening socket without waiting:
    // invalid with `error` empty when none is pending. The stream's peer()
    // is the peer's address without its port.
    Socket acceptPeer(std::string& error) const;
    // Reads one datagram without waiting: its size (more than `size` for a
    // datagram that did not fit and was cut), 0 when none is there (or it
    // was empty), -1 when the read failed (`error` says why).
    // `sender` is the sender's address without its port.
    long receiveFrom(std::uint8_t* buffer, std::size_t size, std::string& sender,
                     std::string& error) const;

    // Resolves `host` (may block on a name lookup) and connects to the
    // first of its addresses that answers, giving up on each after
    // `timeout` or as soon as `cancelled` returns true (asked several times
    // a second). The stream is then set up as configureStream() says. On
    // failure the error is the last address's reason.
    static Socket connect(const std::string& host, std::uint16_t port,
                          std::chrono::milliseconds timeout, std::chrono::milliseconds sendTimeout,
                          const std::function<bool()>& cancelled, std::string& error);

    // Makes a connected stream blocking, with sends that give up after
    // `sendTimeout` (so a stalled peer cannot hang its thread) and Nagle's
    // delay off (so small messages leave at once). False, naming the call
    // that failed, when any of that cannot be done.
    bool configureStream(std::chrono::milliseconds sendTimeout, std::string& error) const;

    bool valid() const { return fd_ >= 0; }
    // Stays owned here; for poll().
    int fd() const { return fd_; }
    // The connected peer ("127.0.0.1:9000"), empty for a datagram socket.
    const std::string& peer() const { return peer_; }
    void close();

    bool sendTo(const SocketAddress& address, const std::vector<std::uint8_t>& bytes,
                std::string& error) const;
    // Sends all of `bytes` on a stream; `error` is set when Failed.
    Sent sendAll(const std::vector<std::uint8_t>& bytes, std::string& error) const;
    // Reads what a stream has without waiting: the byte count, 0 when
    // nothing is there, -1 when the peer closed (`error` empty) or the read
    // failed (`error` says why).
    long receive(std::uint8_t* buffer, std::size_t size, std::string& error) const;
    // Without waiting: true when the stream's peer has closed or reset it.
    // What the peer sent is read and discarded.
    bool peerHasClosed() const;

  private:
    static Socket connectTo(const SocketAddress& address, std::chrono::milliseconds timeout,
                            std::chrono::milliseconds sendTimeout,
                            const std::function<bool()>& cancelled, std::string& error);

    int fd_ = -1;
    std::string peer_;
};

}  // namespace net
