#include "LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

namespace {

constexpr const char* kLoopback = "127.0.0.1";

}  // namespace

LoopbackClient::LoopbackClient(int port)
    : client_(std::make_unique<httplib::Client>(kLoopback, port)) {
    client_->set_connection_timeout(kRequestTimeout, 0);
    client_->set_read_timeout(kRequestTimeout, 0);
    client_->set_write_timeout(kRequestTimeout, 0);
}

std::string LoopbackClient::exchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return "";
    }
    timeval timeout{kRequestTimeout, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
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
        while ((count = recv(fd, chunk.data(), chunk.size(), 0)) > 0) {
            reply.append(chunk.data(), static_cast<std::size_t>(count));
        }
    }
    close(fd);
    return reply;
}
