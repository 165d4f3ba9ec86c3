// A console nobody reads (`panelhost | less` left alone, a stalled journal):
// the host goes on serving and refreshing the displays, and still stops
// cleanly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "HostProcess.h"
#include "LoopbackClient.h"
#include "TempFolder.h"
#include "TslPacketReader.h"

namespace {

using nlohmann::json;

// Writes enough console lines (with --verbose) to fill the small pipe many
// times over.
constexpr int kWrites = 300;
constexpr int kSources = 128;
// Bounds a wait that only a fault makes long; not a measure of speed.
constexpr std::chrono::seconds kHangGuard{60};
constexpr std::size_t kLargestDatagram = 65536;

// A display receiver on a loopback UDP port of its own.
class Receiver {
  public:
    Receiver() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot open a UDP receiver");
        }
        port_ = ntohs(address.sin_port);
        const timeval poll{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof poll);
    }
    ~Receiver() { close(fd_); }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    int port() const { return port_; }

    // Whether display `index` is sent `text` before kHangGuard passes.
    bool waitFor(std::uint16_t index, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
        std::vector<std::uint8_t> datagram(kLargestDatagram);
        while (std::chrono::steady_clock::now() < deadline) {
            const ssize_t size = recv(fd_, datagram.data(), datagram.size(), 0);
            if (size <= 0) {
                continue;
            }
            const std::vector<std::uint8_t> packet(datagram.begin(), datagram.begin() + size);
            for (const auto& message : tsl_test::readPacket(packet).messages) {
                if (message.index == index && message.text == text) {
                    return true;
                }
            }
        }
        return false;
    }

  private:
    int fd_;
    int port_ = 0;
};

}  // namespace

TEST(HostConsole, AConsoleNobodyReadsNeitherStopsTheServiceNorTheDisplays) {
    TempFolder data;
    Receiver displays;
    HostProcess::Setup setup(data.path());
    setup.unreadStandardError = true;
    setup.arguments = {"--verbose", "--tsl", "udp:127.0.0.1:" + std::to_string(displays.port())};
    HostProcess host(setup, data.path() / "output.txt");
    ASSERT_TRUE(host.waitUntilServing()) << host.output();
    LoopbackClient client(host);

    // Set 1 on the displays: the names infodriver's database 1.
    const auto shown =
        client.http().Put("/api/devices/57/slots/212", R"({"text": "1"})", "application/json");
    ASSERT_TRUE(shown && shown->status == 200);
    for (int i = 0; i < kWrites; ++i) {
        const std::string path = "/api/devices/12/databases/1/" + std::to_string(i % kSources + 1);
        const auto written = client.http().Put(
            path, json{{"text", "Take " + std::to_string(i)}}.dump(), "application/json");
        ASSERT_TRUE(written && written->status == 200) << "write " << i;
    }
    // The console is clogged for good now.
    EXPECT_GE(host.unreadBytes(), host.pipeCapacity() / 2);

    const auto panels = client.http().Get("/api/panels");
    ASSERT_TRUE(panels && panels->status == 200);
    const auto last = client.http().Put("/api/devices/12/databases/1/7",
                                        R"({"text": "After the clog"})", "application/json");
    ASSERT_TRUE(last && last->status == 200);
    EXPECT_TRUE(displays.waitFor(6, "After the clog"));
    EXPECT_EQ(host.stop(), 0);
}
