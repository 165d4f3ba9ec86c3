#include "TallyInputs.h"

#include <utility>

namespace panelhost {
namespace {

// Where the refusals of senders beyond kMaxSendersLogged are counted.
constexpr const char* kOtherSenders = "other senders";

// "10 s", "2.5 s".
std::string secondsText(std::chrono::milliseconds time) {
    std::string text = std::to_string(time.count() / 1000);
    if (const auto rest = time.count() % 1000; rest != 0) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

}  // namespace

TallyInputs::TallyInputs(const Config& config, int defaultOffset, ChangeFeed& feed, EventLog& log)
    : feed_(feed),
      log_(log),
      board_(config.inputs, defaultOffset, config.staleAfter),
      drops_(config.inputs.size()) {
    try {
        for (std::size_t i = 0; i < config.inputs.size(); ++i) {
            listeners_.push_back(std::make_unique<tsl::TslInputListener>(
                config.inputs[i],
                [this, i](const std::string& sender, const tsl::TslInputPacket& packet) {
                    take(i, sender, packet);
                },
                [this, i] { tick(i); }));
            const std::string stale = config.staleAfter.count() == 0
                                          ? "lamps stay until the sender changes them"
                                          : "lamps go off after " + secondsText(config.staleAfter) +
                                                " without a valid packet";
            log_.add(0, "info",
                     "tally input " + config.inputs[i].toString() + " listening; " + stale);
        }
    } catch (...) {
        listeners_.clear();
        throw;
    }
}

TallyInputs::~TallyInputs() {
    listeners_.clear();
}

DisplayTallyChanged TallyInputs::lamps(const std::vector<int>& sources) const {
    DisplayTallyChanged event;
    for (const int source : sources) {
        const tsl::TslTally tally = board_.tally(source);
        event.sources.push_back({source, tsl::toString(tally.right), tsl::toString(tally.text),
                                 tsl::toString(tally.left), tally.tallies31,
                                 board_.inputsOf(source)});
    }
    return event;
}

void TallyInputs::take(std::size_t input, const std::string& sender,
                       const tsl::TslInputPacket& packet) {
    if (!packet.ok()) {
        board_.noteDropped(input);
        logDrop(input, sender, packet.error);
        return;
    }
    bool revived = false;
    const std::vector<int> changed = board_.apply(input, packet, TallyBoard::Clock::now(), revived);
    if (revived) {
        log_.add(0, "info", "tally input " + board_.config()[input].toString() + " sends again");
        publishInput(input, false);
    }
    if (!changed.empty()) {
        feed_.publish(lamps(changed));
    }
}

void TallyInputs::tick(std::size_t input) {
    std::vector<int> changed;
    if (!board_.expire(input, TallyBoard::Clock::now(), changed)) {
        return;
    }
    log_.add(0, "warning",
             "tally input " + board_.config()[input].toString() + " sent nothing for " +
                 secondsText(board_.staleAfter()) + "; its lamps are off until it sends again");
    publishInput(input, true);
    if (!changed.empty()) {
        feed_.publish(lamps(changed));
    }
}

void TallyInputs::logDrop(std::size_t input, const std::string& sender, const std::string& why) {
    const auto now = TallyBoard::Clock::now();
    std::uint64_t unlogged = 0;
    std::string who = sender;
    {
        const std::lock_guard<std::mutex> lock(dropMutex_);
        std::map<std::string, DropLog>& drops = drops_[input];
        if (drops.count(who) == 0 && drops.size() >= kMaxSendersLogged) {
            for (auto it = drops.begin(); it != drops.end();) {
                it = now - it->second.lastLine >= kDropLogPeriod ? drops.erase(it) : std::next(it);
            }
            if (drops.size() >= kMaxSendersLogged) {
                who = kOtherSenders;
            }
        }
        const bool known = drops.count(who) != 0;
        DropLog& entry = drops[who];
        if (known && now - entry.lastLine < kDropLogPeriod) {
            ++entry.unlogged;
            return;
        }
        unlogged = std::exchange(entry.unlogged, 0);
        entry.lastLine = now;
    }
    log_.add(0, "warning",
             "tally input " + board_.config()[input].toString() + ": dropped a packet from " + who +
                 ": " + why +
                 (unlogged == 0
                      ? std::string()
                      : " (" + std::to_string(unlogged) + " more dropped since the last line)") +
                 "; at most one such line a minute per sender");
}

void TallyInputs::publishInput(std::size_t input, bool stale) {
    const TallyBoard::InputStatus status = board_.inputs(TallyBoard::Clock::now()).at(input);
    feed_.publish(TallyInputChanged{status.input, stale, status.packets, status.dropped});
}

}  // namespace panelhost
