#include "SocketAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

namespace net {
namespace {

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

}  // namespace

std::string SocketAddress::hostOf(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &address, sizeof v4);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        return host;
    }
    if (address.ss_family != AF_INET6) {
        return "unknown";
    }
    sockaddr_in6 v6{};
    std::memcpy(&v6, &address, sizeof v6);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
        inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], host, sizeof host);
        return host;
    }
    inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
    return host;
}

bool SocketAddress::resolve(const std::string& host, std::uint16_t port, bool stream,
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

}  // namespace net
