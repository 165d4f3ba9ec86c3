#include "TslInputListener.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "TslStreamReader.h"

namespace tsl {
namespace {

// Datagrams (or stream reads of a connection) per wake-up at most, so that
// onTick and the other senders keep their pace under a flood.
constexpr int kMaxReadsPerWake = 256;
// One byte more than any packet may have, so that a longer one shows.
constexpr std::size_t kReadBytes = TslInputParser::kMaxPacketBytes + 1;

TslInputPacket refusedPacket(std::string why) {
    TslInputPacket packet;
    packet.error = std::move(why);
    return packet;
}

struct Connection {
    net::Socket socket;
    TslStreamReader reader;
};

}  // namespace

TslInputListener::TslInputListener(const TslInput& input, PacketCallback onPacket,
                                   TickCallback onTick)
    : input_(input), onPacket_(std::move(onPacket)), onTick_(std::move(onTick)) {
    std::string error;
    socket_ = net::Socket::bindAny(input_.protocol == TslInput::Protocol::Tcp, input_.port, error);
    if (!socket_.valid()) {
        throw std::runtime_error("tally input " + input_.toString() + ": " + error);
    }
    thread_ = std::thread([this] { run(); });
}

TslInputListener::~TslInputListener() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TslInputListener::readDatagrams() {
    std::array<std::uint8_t, kReadBytes> buffer{};
    for (int read = 0; read < kMaxReadsPerWake; ++read) {
        std::string sender;
        std::string error;
        const long n = socket_.receiveFrom(buffer.data(), buffer.size(), sender, error);
        if (n <= 0) {
            return;
        }
        const auto size = static_cast<std::size_t>(n);
        if (size > TslInputParser::kMaxPacketBytes) {
            onPacket_(sender, refusedPacket("datagram of " + std::to_string(size) +
                                            " bytes is longer than " +
                                            std::to_string(TslInputParser::kMaxPacketBytes)));
        } else if (input_.version31()) {
            onPacket_(sender, TslInputParser::parse31(buffer.data(), size));
        } else {
            onPacket_(sender, TslInputParser::parse5(buffer.data(), size));
        }
    }
}

void TslInputListener::run() {
    const bool stream = input_.protocol == TslInput::Protocol::Tcp;
    std::vector<std::unique_ptr<Connection>> connections;
    std::array<std::uint8_t, kReadBytes> buffer{};
    auto lastTick = std::chrono::steady_clock::now();
    while (!stopping_) {
        std::vector<pollfd> fds{{socket_.fd(), POLLIN, 0}};
        for (const auto& c : connections) {
            fds.push_back({c->socket.fd(), POLLIN, 0});
        }
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(kTickPeriod.count()));
        if (ready > 0 && !stream && (fds[0].revents & POLLIN) != 0) {
            readDatagrams();
        }
        if (ready > 0 && stream) {
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                Connection& c = *connections[i - 1];
                std::string error;
                long n = 0;
                for (int read = 0; read < kMaxReadsPerWake &&
                                   (n = c.socket.receive(buffer.data(), buffer.size(), error)) > 0;
                     ++read) {
                    for (TslStreamReader::Piece& piece :
                         c.reader.take(buffer.data(), static_cast<std::size_t>(n))) {
                        onPacket_(c.socket.peer(), piece.error.empty()
                                                       ? TslInputParser::parse5(piece.packet.data(),
                                                                                piece.packet.size())
                                                       : refusedPacket(piece.error));
                    }
                }
                if (n < 0) {
                    c.socket.close();
                }
            }
            connections.erase(std::remove_if(connections.begin(), connections.end(),
                                             [](const auto& c) { return !c->socket.valid(); }),
                              connections.end());
            if ((fds[0].revents & POLLIN) != 0) {
                std::string error;
                net::Socket accepted = socket_.acceptPeer(error);
                if (accepted.valid() && connections.size() >= kMaxConnections) {
                    onPacket_(accepted.peer(), refusedPacket("connection refused: " +
                                                             std::to_string(kMaxConnections) +
                                                             " senders are connected already"));
                } else if (accepted.valid()) {
                    connections.push_back(
                        std::make_unique<Connection>(Connection{std::move(accepted), {}}));
                }
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastTick >= kTickPeriod) {
            lastTick = now;
            onTick_();
        }
    }
}

}  // namespace tsl
