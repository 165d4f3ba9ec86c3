#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Tsl31Encoder.h"
#include "TslEncoder.h"
#include "TslTally.h"
#include "TslTarget.h"
#include "TslTransport.h"

namespace tsl {

struct TslOutputConfig {
    std::vector<TslTarget> targets;
    // The display index of each target's first source where the target
    // names no offset of its own: index = source - first + offset
    // (receivers count from 0 or from 1); 0 to TslOutput::kMaxIndexOffset,
    // and at most Tsl31Encoder::kMaxAddress for a 3.1 target that uses it.
    int indexOffset = 0;
    std::uint16_t screen = 0;
    // How often the whole wall is sent again; zero turns this off.
    std::chrono::milliseconds refreshPeriod{5000};
    // DLE/STX framing on UDP datagrams too (TCP always has it).
    bool udpDleStx = false;
    // For receivers that read only the first message of a packet.
    std::size_t maxMessagesPerPacket = TslEncoder::kNoMessageLimit;
    // Whether every target is driven from the start. False where other
    // hosts may drive the same receivers: nothing goes to a target until
    // TslOutput::setDriven() says this host drives it.
    bool drivenAtStart = true;
};

// What one source's displays were last sent.
struct TslDisplayState {
    // Its display index on the first target that shows it.
    std::uint16_t index = 0;
    // The name as the host holds it (UTF-8).
    std::string text;
    std::uint8_t brightness = 0;
    // The tally lamps it was sent with.
    TslTally tally;
    // False until a message for this display has been sent.
    bool sent = false;
    // False when a display that should show the source shows `text` other
    // than exactly: a 3.1 display (ASCII only, 16 characters), or a target
    // whose 3.1 address range does not reach the source.
    bool exact = true;
    // What 3.1 displays show, without the padding, when it is not `text`.
    std::string shownAs;
    // The targets (TslTarget::toString()) that cannot address the source.
    std::vector<std::string> unsentTo;
};

// A new name and lamps for one display (TslOutput::setDisplays()).
struct TslDisplayUpdate {
    // The source, or the followed destination, 1 to kSourceCount.
    int number = 0;
    std::string name;
    TslTally tally;
};

// The UMD wall as last handed to the transports; displays[0] is source 1,
// routed[0] the display of router destination 1 on the targets that follow
// the router (TslTarget::followRouter).
struct TslWallSnapshot {
    std::array<TslDisplayState, kSourceCount> displays;
    std::array<TslDisplayState, kSourceCount> routed;
    std::uint64_t packets = 0;
    std::uint64_t fullRefreshes = 0;
};

// Drives the under-monitor displays of the studio's 128 sources: turns the
// host's names and brightness into display messages for every target, in
// the protocol version the target reads (5.0 or 3.1), for the sources it
// shows at the addresses its offset gives. A 3.1 target leaves out the
// sources whose address would pass Tsl31Encoder::kMaxAddress; warnings()
// says so once.
//
// A target that follows the router shows at display n the name of the source
// routed to destination n instead (the host works that name out).
//
// The host calls setWall() when output starts and when the shown name set
// changes, setName() when one name of the shown set changes,
// setRoutedName() when a followed destination's name changes, and
// setBrightness() when the brightness changes; each sends at once. Every
// message carries the tally lamps of the display's source as last given
// (setTallies(), setDisplays(); all off at first): a
// name, a refresh or a brightness change never puts them out. The host
// also calls tick() regularly (about once a second is plenty): it sends the
// whole wall again once refreshPeriod has passed since the last full send,
// and to a transport whose link was opened again (a serial line that
// returned, see TslTransportStatus::linkOpenings). All methods are
// thread-safe and never block on the network. Callbacks are called without
// any lock held. Destruction stops the senders and discards what they have
// not sent yet: call flush() first to send it.
class TslOutput {
  public:
    // Keeps the highest display index below 0xFFFF, which means "all".
    static constexpr int kMaxIndexOffset = TslTarget::kMaxOffset;
    // Protocol brightness sent while no level has been reported.
    static constexpr std::uint8_t kDefaultBrightness = 3;

    // names[0] is source 1's name, UTF-8.
    using Names = std::array<std::string, kSourceCount>;
    // tallies[0] is source 1's lamps (or destination 1's, for the displays
    // that follow the router).
    using Tallies = std::array<TslTally, kSourceCount>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Receives one line per packet sent, for the host's log.
    using SummaryCallback = std::function<void(const std::string&)>;

    // An output with a UDP, TCP or serial sender per target. `onStatus` is
    // called from the senders' threads (see TslStatusCallback), and at once
    // for a serial line's first opening. Throws std::invalid_argument with a
    // readable message for a bad config, or for a serial target whose
    // device is no serial device.
    static std::unique_ptr<TslOutput> create(const TslOutputConfig& config,
                                             SummaryCallback onPacket, TslStatusCallback onStatus);

    // An output over the given transports, which it owns: transports[i]
    // carries config.targets[i]. `clock` times the periodic refresh. Throws
    // std::invalid_argument for a bad config.
    TslOutput(const TslOutputConfig& config, std::vector<std::unique_ptr<TslTransport>> transports,
              SummaryCallback onPacket, Clock clock = std::chrono::steady_clock::now);

    TslOutput(const TslOutput&) = delete;
    TslOutput& operator=(const TslOutput&) = delete;

    // Replaces every name and the brightness level and sends the whole wall.
    void setWall(const Names& names, int brightnessLevel);
    // The same, with the names of the followed destinations; routed[0] is
    // destination 1's.
    void setWall(const Names& names, const Names& routed, int brightnessLevel);
    // Replaces one source's name (1 to kSourceCount) and sends its display
    // alone; false, and nothing sent, for a source out of range.
    bool setName(int source, const std::string& name);
    // Replaces what a followed destination (1 to kSourceCount) shows and
    // sends that display alone to the targets that follow the router; false
    // for a destination out of range.
    bool setRoutedName(int destination, const std::string& name);
    // Replaces every display's lamps without sending: the next send of a
    // display carries them.
    void setTallies(const Tallies& sources, const Tallies& routed);
    // Replaces the names and lamps of the given sources (or, `routed`, of
    // followed destinations) and sends those displays alone, in as few
    // packets as they fit; false, and nothing sent, when one is out of range.
    bool setDisplays(const std::vector<TslDisplayUpdate>& updates, bool routed);
    // Whether some target follows the router.
    bool followsRouter() const;
    // Replaces the brightness level and, once the wall is known, sends it
    // whole with the new brightness.
    void setBrightness(int brightnessLevel);
    // Sends the periodic full refresh when it is due.
    void tick();
    // Whether target `target` (an index into config.targets) is sent
    // anything. A target that becomes driven gets the whole wall at once,
    // once the wall is known; one no longer driven is sent nothing more.
    // False for a target out of range.
    bool setDriven(std::size_t target, bool driven);
    bool driven(std::size_t target) const;

    TslWallSnapshot lastSent() const;
    // One per target, in order, each named by its TslTarget::toString().
    std::vector<TslTransportStatus> transportStatus() const;
    // What the configuration keeps from the displays (sources beyond a 3.1
    // address range), one line per target group; fixed at construction.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Waits up to `timeout` for every transport to hand its queue on.
    bool flush(std::chrono::milliseconds timeout);

    // The protocol brightness for a host level: 1 to 3 map to themselves;
    // 0 ("no report yet") and anything else give kDefaultBrightness.
    static std::uint8_t protocolBrightness(int level);
    // The display index of `source`, for a valid source and offset.
    static std::uint16_t displayIndex(int source, int indexOffset);

  private:
    // Targets that take the same bytes: one version, source range and
    // offset.
    struct Route {
        bool version31 = false;
        bool followRouter = false;
        int firstSource = 1;
        int lastSource = kSourceCount;
        int offset = 0;
        std::vector<std::size_t> transports;
        // Their TslTarget::toString() forms, for the log.
        std::string targets;

        int address(int source) const { return source - firstSource + offset; }
        bool inRange(int source) const { return source >= firstSource && source <= lastSource; }
        // In range and addressable in the route's protocol version.
        bool carries(int source) const {
            return inRange(source) && (!version31 || address(source) <= Tsl31Encoder::kMaxAddress);
        }
    };

    // Which routes a send concerns: all, those showing sources, or those
    // following router destinations.
    enum class Routes { All, Sources, Routed };

    void buildRoutes();
    // Sends displays `numbers` (sources, or destinations on a following
    // route) on every route of kind `which` that carries them, to the
    // transports that `to` selects (all when empty).
    std::vector<std::string> sendLocked(const std::vector<int>& numbers, const std::string& reason,
                                        Routes which, const std::vector<bool>& to = {});
    std::vector<std::string> sendWallLocked(const std::string& reason);
    void noteSentLocked(bool routed, int number);
    void report(const std::vector<std::string>& summaries) const;

    const TslOutputConfig config_;
    const TslEncoder encoder_;
    const Tsl31Encoder encoder31_;
    const std::vector<std::unique_ptr<TslTransport>> transports_;
    const SummaryCallback onPacket_;
    const Clock clock_;
    std::vector<Route> routes_;
    std::vector<std::string> warnings_;

    mutable std::mutex mutex_;
    Names names_;
    Names routed_;
    Tallies tallies_{};
    Tallies routedTallies_{};
    // Each transport's TslTransportStatus::linkOpenings as last seen.
    std::vector<std::uint64_t> openings_;
    // Which transports are sent anything (see setDriven()).
    std::vector<bool> driven_;
    std::uint8_t brightness_ = kDefaultBrightness;
    bool wallKnown_ = false;
    std::chrono::steady_clock::time_point lastFullSend_{};
    TslWallSnapshot sent_;
};

}  // namespace tsl
