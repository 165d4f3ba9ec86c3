#include "LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kLength = "\r\nContent-Length: ";

// Whether `reply` holds a whole answer with its announced body: the host
// may keep the connection open after it, even when asked to close.
bool complete(const std::string& reply) {
    const std::size_t headEnd = reply.find(kHeadEnd);
    if (headEnd == std::string::npos) {
        return false;
    }
    const std::size_t length = reply.find(kLength);
    const std::size_t body =
        length < headEnd ? std::strtoull(reply.c_str() + length + kLength.size(), nullptr, 10) : 0;
    return reply.size() >= headEnd + kHeadEnd.size() + body;
}

}  // namespace

LoopbackClient::LoopbackClient(HostProcess& host)
    : client_(std::make_unique<httplib::Client>(kLoopback, host.port())) {
    client_->set_bearer_token_auth(host.token());
    client_->set_connection_timeout(kRequestTimeout, 0);
    client_->set_read_timeout(kRequestTimeout, 0);
    client_->set_write_timeout(kRequestTimeout, 0);
}

std::string LoopbackClient::exchange(int port, const std::string& request,
                                     const std::string& from) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return "";
    }
    timeval timeout{kRequestTimeout, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (!from.empty()) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        if (inet_pton(AF_INET, from.c_str(), &source.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) {
            close(fd);
            return "";
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, kLoopback, &address.sin_addr);
    std::string reply;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        std::array<char, 4096> chunk{};
        ssize_t count = 0;
        while (!complete(reply) && (count = recv(fd, chunk.data(), chunk.size(), 0)) > 0) {
            reply.append(chunk.data(), static_cast<std::size_t>(count));
        }
    }
    close(fd);
    return reply;
}
