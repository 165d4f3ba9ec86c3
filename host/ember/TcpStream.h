#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ember {

// A connected TCP stream socket, the POSIX calls the consumer needs kept in
// one place. Owns its descriptor and closes it on destruction; move-only.
// Errors come back as readable text. Used by one thread at a time.
class TcpStream {
  public:
    TcpStream() = default;
    ~TcpStream();
    TcpStream(TcpStream&& other) noexcept;
    TcpStream& operator=(TcpStream&& other) noexcept;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Resolves `host` (may block on a name lookup) and connects to the first
    // address that answers, giving up on each after `timeout` or as soon as
    // `cancelled` returns true. Sends time out after `sendTimeout`, so a
    // stalled peer cannot hang the caller.
    static TcpStream connect(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds timeout,
                             std::chrono::milliseconds sendTimeout,
                             const std::function<bool()>& cancelled, std::string& error);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // "127.0.0.1:9000", the peer as connected.
    const std::string& peer() const { return peer_; }
    void close();

    bool sendAll(const std::vector<std::uint8_t>& bytes, std::string& error) const;
    // Reads what is available without waiting: the byte count, 0 when
    // nothing is there, -1 when the peer closed or the read failed.
    long receive(std::uint8_t* buffer, std::size_t size, std::string& error) const;

  private:
    int fd_ = -1;
    std::string peer_;
};

}  // namespace ember
