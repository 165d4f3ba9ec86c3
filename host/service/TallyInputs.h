#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ChangeFeed.h"
#include "EventLog.h"
#include "TallyBoard.h"
#include "TslInput.h"
#include "TslInputListener.h"

namespace panelhost {

// The tally inputs of the host (--tally-in): a listener per input, the
// board of lamps they fill, and what they tell the rest of the host. A
// change of lamps is published on the feed as a DisplayTallyChanged at
// once, from the input's thread (the display thread sends it on); an input
// going stale or fresh again as a TallyInputChanged and a log line. A
// refused packet is counted and logged, at most one line per sender and
// input a minute (the line says how many were refused since the last one).
// The feed and the log must outlive it; the engine is never waited on.
class TallyInputs {
  public:
    // Lamps are switched off after this much silence unless told otherwise
    // (--tally-stale): a mixer repeats its tallies well within it.
    static constexpr std::chrono::seconds kDefaultStaleAfter{10};
    // One log line per sender and input in this time at most.
    static constexpr std::chrono::seconds kDropLogPeriod{60};
    // Senders whose refusals are counted apart; beyond that they share one
    // line, so a flood from forged addresses cannot fill the memory.
    static constexpr std::size_t kMaxSendersLogged = 256;

    struct Config {
        std::vector<tsl::TslInput> inputs;
        // Zero: lamps stay until the sender changes them.
        std::chrono::milliseconds staleAfter = kDefaultStaleAfter;
    };

    // Binds every input's port and starts listening; throws
    // std::runtime_error naming the input that cannot listen.
    TallyInputs(const Config& config, int defaultOffset, ChangeFeed& feed, EventLog& log);
    ~TallyInputs();

    TallyInputs(const TallyInputs&) = delete;
    TallyInputs& operator=(const TallyInputs&) = delete;

    const TallyBoard& board() const { return board_; }
    // The event of the given sources' lamps as the board has them now.
    DisplayTallyChanged lamps(const std::vector<int>& sources) const;

  private:
    struct DropLog {
        TallyBoard::Clock::time_point lastLine{};
        std::uint64_t unlogged = 0;
    };

    void take(std::size_t input, const std::string& sender, const tsl::TslInputPacket& packet);
    void tick(std::size_t input);
    void logDrop(std::size_t input, const std::string& sender, const std::string& why);
    void publishInput(std::size_t input, bool stale);

    ChangeFeed& feed_;
    EventLog& log_;
    TallyBoard board_;
    std::mutex dropMutex_;
    // Per input, by sender address.
    std::vector<std::map<std::string, DropLog>> drops_;
    std::vector<std::unique_ptr<tsl::TslInputListener>> listeners_;
};

}  // namespace panelhost
