#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TslInput.h"
#include "TslInputParser.h"
#include "TslTally.h"

namespace panelhost {

// The tally lamps the vision mixers' inputs give each of the 128 sources,
// live state that is never stored. Each input keeps what it last said for
// each source; a source's lamps are those of every input together (colours
// add up). An input that has sent nothing valid for the stale time is
// stale: its lamps go off until it sends again. With ,text=use an input's
// labels are kept too: a display whose source has no name shows the label
// of the first such input that has one. Thread-safe: the inputs' threads
// write, the display thread and the HTTP workers read.
class TallyBoard {
  public:
    using Clock = std::chrono::steady_clock;
    using Tallies = std::array<tsl::TslTally, tsl::kSourceCount>;

    struct InputStatus {
        std::string input;
        std::uint64_t packets = 0;
        std::uint64_t dropped = 0;
        bool stale = false;
        // Since the last valid packet; nothing before the first.
        std::optional<Clock::duration> silentFor;
    };

    // `defaultOffset` is the display address of an input's first source
    // where it gives no offset; `staleAfter` zero keeps lamps until the
    // sender changes them.
    TallyBoard(std::vector<tsl::TslInput> inputs, int defaultOffset,
               std::chrono::milliseconds staleAfter);

    // Takes a valid packet of input `input` (it must be ok()): the sources
    // whose lamps (or shown label) changed, in order. An input that was
    // stale is fresh again (`revived`).
    std::vector<int> apply(std::size_t input, const tsl::TslInputPacket& packet,
                           Clock::time_point now, bool& revived);
    // Counts a packet of `input` that was refused.
    void noteDropped(std::size_t input);
    // Turns input `input` stale once it has been silent for the stale time:
    // true when it just went stale, with the sources whose lamps went off.
    bool expire(std::size_t input, Clock::time_point now, std::vector<int>& changed);

    tsl::TslTally tally(int source) const;
    Tallies tallies() const;
    // The label a display of `source` shows when it has no name; "" for
    // none.
    std::string label(int source) const;
    // The inputs (as given) whose lamps are on for `source`.
    std::vector<std::string> inputsOf(int source) const;
    std::vector<InputStatus> inputs(Clock::time_point now) const;
    const std::vector<tsl::TslInput>& config() const { return config_; }
    std::chrono::milliseconds staleAfter() const { return staleAfter_; }

  private:
    struct Input {
        std::string name;
        Tallies tallies{};
        std::array<std::string, tsl::kSourceCount> labels;
        std::uint64_t packets = 0;
        std::uint64_t dropped = 0;
        bool stale = false;
        std::optional<Clock::time_point> lastPacket;
    };

    tsl::TslTally tallyLocked(int source) const;
    std::string labelLocked(int source) const;

    const std::vector<tsl::TslInput> config_;
    const int defaultOffset_;
    const std::chrono::milliseconds staleAfter_;
    mutable std::mutex mutex_;
    std::vector<Input> inputs_;
};

}  // namespace panelhost
