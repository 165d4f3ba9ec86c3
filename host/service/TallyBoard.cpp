#include "TallyBoard.h"

#include <algorithm>
#include <utility>

#include "TslEncoder.h"

namespace panelhost {

TallyBoard::TallyBoard(std::vector<tsl::TslInput> inputs, int defaultOffset,
                       std::chrono::milliseconds staleAfter)
    : config_(std::move(inputs)), defaultOffset_(defaultOffset), staleAfter_(staleAfter) {
    for (const tsl::TslInput& input : config_) {
        Input state;
        state.name = input.toString();
        inputs_.push_back(std::move(state));
    }
}

std::vector<int> TallyBoard::apply(std::size_t input, const tsl::TslInputPacket& packet,
                                   Clock::time_point now, bool& revived) {
    std::vector<int> changed;
    const std::lock_guard<std::mutex> lock(mutex_);
    const tsl::TslInput& config = config_.at(input);
    Input& state = inputs_.at(input);
    ++state.packets;
    state.lastPacket = now;
    revived = state.stale;
    state.stale = false;
    for (const tsl::TslInputMessage& m : packet.messages) {
        if (!config.takesScreen(m.screen)) {
            continue;
        }
        std::vector<int> sources;
        if (!config.version31() && m.index == tsl::TslEncoder::kAllDisplays) {
            for (int source = config.firstSource; source <= config.lastSource; ++source) {
                sources.push_back(source);
            }
        } else if (const std::optional<int> source = config.sourceOf(m.index, defaultOffset_)) {
            sources.push_back(*source);
        }
        for (const int source : sources) {
            const auto at = static_cast<std::size_t>(source - 1);
            const tsl::TslTally before = tallyLocked(source);
            const std::string labelBefore = labelLocked(source);
            state.tallies[at] = m.tally;
            if (config.useText) {
                state.labels[at] = m.text;
            }
            if (tallyLocked(source) != before || labelLocked(source) != labelBefore) {
                changed.push_back(source);
            }
        }
    }
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    return changed;
}

void TallyBoard::noteDropped(std::size_t input) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++inputs_.at(input).dropped;
}

bool TallyBoard::expire(std::size_t input, Clock::time_point now, std::vector<int>& changed) {
    changed.clear();
    const std::lock_guard<std::mutex> lock(mutex_);
    Input& state = inputs_.at(input);
    if (staleAfter_.count() == 0 || state.stale || !state.lastPacket ||
        now - *state.lastPacket < staleAfter_) {
        return false;
    }
    state.stale = true;
    for (int source = 1; source <= tsl::kSourceCount; ++source) {
        const auto at = static_cast<std::size_t>(source - 1);
        const tsl::TslTally before = tallyLocked(source);
        const std::string labelBefore = labelLocked(source);
        state.tallies[at] = tsl::TslTally{};
        state.labels[at].clear();
        if (tallyLocked(source) != before || labelLocked(source) != labelBefore) {
            changed.push_back(source);
        }
    }
    return true;
}

tsl::TslTally TallyBoard::tally(int source) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return tallyLocked(source);
}

TallyBoard::Tallies TallyBoard::tallies() const {
    Tallies all{};
    const std::lock_guard<std::mutex> lock(mutex_);
    for (int source = 1; source <= tsl::kSourceCount; ++source) {
        all[static_cast<std::size_t>(source - 1)] = tallyLocked(source);
    }
    return all;
}

std::string TallyBoard::label(int source) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return labelLocked(source);
}

std::vector<std::string> TallyBoard::inputsOf(int source) const {
    std::vector<std::string> names;
    if (source < 1 || source > tsl::kSourceCount) {
        return names;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const Input& input : inputs_) {
        if (input.tallies[static_cast<std::size_t>(source - 1)].anyOn()) {
            names.push_back(input.name);
        }
    }
    return names;
}

std::vector<TallyBoard::InputStatus> TallyBoard::inputs(Clock::time_point now) const {
    std::vector<InputStatus> statuses;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const Input& input : inputs_) {
        InputStatus status{input.name, input.packets, input.dropped, input.stale, std::nullopt};
        if (input.lastPacket) {
            status.silentFor = now - *input.lastPacket;
        }
        statuses.push_back(std::move(status));
    }
    return statuses;
}

tsl::TslTally TallyBoard::tallyLocked(int source) const {
    tsl::TslTally sum;
    if (source < 1 || source > tsl::kSourceCount) {
        return sum;
    }
    for (const Input& input : inputs_) {
        sum = sum.combined(input.tallies[static_cast<std::size_t>(source - 1)]);
    }
    return sum;
}

std::string TallyBoard::labelLocked(int source) const {
    if (source < 1 || source > tsl::kSourceCount) {
        return "";
    }
    for (const Input& input : inputs_) {
        const std::string& label = input.labels[static_cast<std::size_t>(source - 1)];
        if (!label.empty()) {
            return label;
        }
    }
    return "";
}

}  // namespace panelhost
