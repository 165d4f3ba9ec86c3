#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TslEncoder.h"
#include "TslTarget.h"
#include "TslTransport.h"

namespace tsl {

// The studio router's sources, numbered 1 to kSourceCount, one display each.
inline constexpr int kSourceCount = 128;

struct TslOutputConfig {
    std::vector<TslTarget> targets;
    // Display index = source - 1 + indexOffset (receivers count from 0 or
    // from 1); 0 to TslOutput::kMaxIndexOffset.
    int indexOffset = 0;
    std::uint16_t screen = 0;
    // How often the whole wall is sent again; zero turns this off.
    std::chrono::milliseconds refreshPeriod{5000};
    // DLE/STX framing on UDP datagrams too (TCP always has it).
    bool udpDleStx = false;
    // For receivers that read only the first message of a packet.
    std::size_t maxMessagesPerPacket = TslEncoder::kNoMessageLimit;
};

// What one display was last sent.
struct TslDisplayState {
    std::uint16_t index = 0;
    std::string text;
    std::uint8_t brightness = 0;
    // False until a message for this display has been sent.
    bool sent = false;
};

// The UMD wall as last handed to the transports; displays[0] is source 1.
struct TslWallSnapshot {
    std::array<TslDisplayState, kSourceCount> displays;
    std::uint64_t packets = 0;
    std::uint64_t fullRefreshes = 0;
};

// Drives the under-monitor displays of the studio's 128 sources: turns the
// host's names and brightness into display messages for every target.
//
// The host calls setWall() when output starts and when the shown name set
// changes, setName() when one name of the shown set changes, and
// setBrightness() when the brightness changes; each sends at once. The host
// also calls tick() regularly (about once a second is plenty): it sends the
// whole wall again once refreshPeriod has passed since the last full send.
// All methods are thread-safe and never block on the network. Callbacks are
// called without any lock held. Destruction stops the senders and discards
// what they have not sent yet: call flush() first to send it.
class TslOutput {
  public:
    // Keeps the highest display index below 0xFFFF, which means "all".
    static constexpr int kMaxIndexOffset = TslEncoder::kAllDisplays - kSourceCount;
    // Protocol brightness sent while no level has been reported.
    static constexpr std::uint8_t kDefaultBrightness = 3;

    // names[0] is source 1's name, UTF-8.
    using Names = std::array<std::string, kSourceCount>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Receives one line per packet sent, for the host's log.
    using SummaryCallback = std::function<void(const std::string&)>;

    // An output with a UDP or TCP sender per target. `onStatus` is called
    // from the senders' threads (see TslStatusCallback). Throws
    // std::invalid_argument with a readable message for a bad config.
    static std::unique_ptr<TslOutput> create(const TslOutputConfig& config,
                                             SummaryCallback onPacket, TslStatusCallback onStatus);

    // An output over the given transports, which it owns; `clock` times the
    // periodic refresh. Throws std::invalid_argument for a bad config.
    TslOutput(const TslOutputConfig& config, std::vector<std::unique_ptr<TslTransport>> transports,
              SummaryCallback onPacket, Clock clock = std::chrono::steady_clock::now);

    TslOutput(const TslOutput&) = delete;
    TslOutput& operator=(const TslOutput&) = delete;

    // Replaces every name and the brightness level and sends the whole wall.
    void setWall(const Names& names, int brightnessLevel);
    // Replaces one source's name (1 to kSourceCount) and sends its display
    // alone; false, and nothing sent, for a source out of range.
    bool setName(int source, const std::string& name);
    // Replaces the brightness level and, once the wall is known, sends it
    // whole with the new brightness.
    void setBrightness(int brightnessLevel);
    // Sends the periodic full refresh when it is due.
    void tick();

    TslWallSnapshot lastSent() const;
    std::vector<TslTransportStatus> transportStatus() const;
    // Waits up to `timeout` for every transport to hand its queue on.
    bool flush(std::chrono::milliseconds timeout);

    // The protocol brightness for a host level: 1 to 3 map to themselves;
    // 0 ("no report yet") and anything else give kDefaultBrightness.
    static std::uint8_t protocolBrightness(int level);
    // The display index of `source`, for a valid source and offset.
    static std::uint16_t displayIndex(int source, int indexOffset);

  private:
    std::vector<std::string> sendLocked(const std::vector<TslDisplayMessage>& messages,
                                        const std::string& reason);
    std::vector<std::string> sendWallLocked(const std::string& reason);
    void report(const std::vector<std::string>& summaries) const;

    const TslOutputConfig config_;
    const TslEncoder encoder_;
    const std::vector<std::unique_ptr<TslTransport>> transports_;
    const SummaryCallback onPacket_;
    const Clock clock_;

    mutable std::mutex mutex_;
    Names names_;
    std::uint8_t brightness_ = kDefaultBrightness;
    bool wallKnown_ = false;
    std::chrono::steady_clock::time_point lastFullSend_{};
    TslWallSnapshot sent_;
};

}  // namespace tsl
