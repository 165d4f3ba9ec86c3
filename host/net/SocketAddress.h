#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace net {

// A resolved IPv4 or IPv6 socket address and its printable form
// ("127.0.0.1:8900", "[::1]:9000"). A plain value; any thread.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    std::string text;

    // Every IPv4 and IPv6 address `host` resolves to for a stream or a
    // datagram socket, in the resolver's order; false with the reason
    // ("cannot resolve HOST: ...") when there is none. May block on a name
    // lookup, so it is called from a thread that may wait.
    static bool resolve(const std::string& host, std::uint16_t port, bool stream,
                        std::vector<SocketAddress>& out, std::string& error);
    // The printable form of a received peer's address, without its port
    // ("192.0.2.7", "2001:db8::7"); an IPv4 peer of a dual-stack socket is
    // shown as IPv4.
    static std::string hostOf(const sockaddr_storage& address);
};

}  // namespace net
