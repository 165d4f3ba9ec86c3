#include "TslOutput.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "SerialTslSender.h"
#include "TcpTslSender.h"
#include "UdpTslSender.h"

namespace tsl {
namespace {

// The host's brightness levels, one per brightness button of the panel; the
// protocol's values 1 to 3 match them one to one.
constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 3;

// The offset a target's addresses start from.
int offsetOf(const TslTarget& target, const TslOutputConfig& config) {
    return target.offset.value_or(config.indexOffset);
}

const TslOutputConfig& validated(const TslOutputConfig& config) {
    if (config.indexOffset < 0 || config.indexOffset > TslOutput::kMaxIndexOffset) {
        throw std::invalid_argument("display index offset " + std::to_string(config.indexOffset) +
                                    " is out of range 0 to " +
                                    std::to_string(TslOutput::kMaxIndexOffset));
    }
    if (config.refreshPeriod.count() < 0) {
        throw std::invalid_argument("the refresh period must not be negative");
    }
    for (const TslTarget& target : config.targets) {
        if (target.version31() && offsetOf(target, config) > Tsl31Encoder::kMaxAddress) {
            throw std::invalid_argument(
                "display index offset " + std::to_string(config.indexOffset) +
                " leaves no display of the TSL 3.1 target " + target.toString() +
                " addressable (addresses 0 to " + std::to_string(Tsl31Encoder::kMaxAddress) +
                "); give it an offset of its own (,offset=N)");
        }
    }
    return config;
}

// What a 3.1 display shows for `text`, without the padding.
std::string shown31(const std::string& text) {
    std::string shown = Tsl31Encoder::displayText(text);
    shown.erase(shown.find_last_not_of(' ') + 1);
    return shown;
}

std::string quotedText(const TslDisplayMessage& m, bool version31) {
    return "\"" + (version31 ? shown31(m.text) : m.text) + "\"";
}

std::vector<int> allSources() {
    std::vector<int> sources;
    for (int source = 1; source <= kSourceCount; ++source) {
        sources.push_back(source);
    }
    return sources;
}

std::string describePacket(const TslPacket& packet, const std::vector<TslDisplayMessage>& messages,
                           bool version31, std::size_t number, std::size_t total,
                           const std::string& reason) {
    const TslDisplayMessage& first = messages[packet.firstMessage];
    const TslDisplayMessage& last = messages[packet.firstMessage + packet.messageCount - 1];
    std::string line = std::string(version31 ? "TSL 3.1 " : "TSL ") + reason + " " +
                       std::to_string(number) + "/" + std::to_string(total) + ": ";
    if (packet.messageCount == 1) {
        line += std::string(version31 ? "address " : "display ") + std::to_string(first.index) +
                " " + quotedText(first, version31);
    } else {
        line += std::string(version31 ? "addresses " : "displays ") + std::to_string(first.index) +
                "-" + std::to_string(last.index) + " (" + std::to_string(packet.messageCount) + ")";
    }
    if (!version31) {
        line += packet.utf16 ? ", UTF-16" : ", ASCII";
    }
    line += ", " + std::to_string(packet.bytes.size()) + " bytes, brightness " +
            std::to_string(first.brightness);
    const bool lampsOn = first.tallies31 != 0 || first.rightTally != TallyColour::Off ||
                         first.textTally != TallyColour::Off || first.leftTally != TallyColour::Off;
    if (packet.messageCount != 1 || !lampsOn) {
        return line;
    }
    if (version31) {
        line += ", tallies " + std::to_string(first.tallies31);
    } else {
        line += std::string(", tally ") + toString(first.rightTally) + "/" +
                toString(first.textTally) + "/" + toString(first.leftTally);
    }
    return line;
}

std::unique_ptr<TslTransport> makeSender(const TslTarget& target, bool udpDleStx,
                                         const TslStatusCallback& onStatus) {
    switch (target.protocol) {
        case TslTarget::Protocol::Tcp:
            return std::make_unique<TcpTslSender>(target.host, target.port, onStatus);
        case TslTarget::Protocol::Udp:
            return std::make_unique<UdpTslSender>(target.host, target.port, udpDleStx, onStatus);
        case TslTarget::Protocol::Udp31:
            // 3.1 messages carry no framing on any link.
            return std::make_unique<UdpTslSender>(target.host, target.port, false, onStatus);
        case TslTarget::Protocol::Serial31:
            return std::make_unique<SerialTslSender>(target.toString(), target.device,
                                                     target.serial, onStatus);
    }
    throw std::invalid_argument("unknown display target protocol");
}

// Senders name themselves by their address alone; the output's status and
// log name each by its whole target text.
TslStatusCallback namedAs(const std::string& name, const TslStatusCallback& onStatus) {
    if (!onStatus) {
        return nullptr;
    }
    return [name, onStatus](const TslTransportStatus& status) {
        TslTransportStatus named = status;
        named.target = name;
        onStatus(named);
    };
}

std::string sourceSpan(int first, int last) {
    return first == last ? std::to_string(first)
                         : std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

std::unique_ptr<TslOutput> TslOutput::create(const TslOutputConfig& config,
                                             SummaryCallback onPacket, TslStatusCallback onStatus) {
    validated(config);
    std::vector<std::unique_ptr<TslTransport>> transports;
    for (const TslTarget& target : config.targets) {
        transports.push_back(
            makeSender(target, config.udpDleStx, namedAs(target.toString(), onStatus)));
    }
    return std::make_unique<TslOutput>(config, std::move(transports), std::move(onPacket));
}

TslOutput::TslOutput(const TslOutputConfig& config,
                     std::vector<std::unique_ptr<TslTransport>> transports,
                     SummaryCallback onPacket, Clock clock)
    : config_(validated(config)),
      encoder_(config.screen, config.maxMessagesPerPacket),
      encoder31_(config.maxMessagesPerPacket),
      transports_(std::move(transports)),
      onPacket_(std::move(onPacket)),
      clock_(std::move(clock)) {
    if (transports_.size() != config_.targets.size()) {
        throw std::invalid_argument("the display output needs one transport per target");
    }
    buildRoutes();
    for (const auto& transport : transports_) {
        openings_.push_back(transport->status().linkOpenings);
    }
    driven_.assign(transports_.size(), config_.drivenAtStart);
}

void TslOutput::buildRoutes() {
    for (std::size_t i = 0; i < config_.targets.size(); ++i) {
        const TslTarget& target = config_.targets[i];
        Route route;
        route.version31 = target.version31();
        route.followRouter = target.followRouter;
        route.firstSource = target.firstSource;
        route.lastSource = target.lastSource;
        route.offset = offsetOf(target, config_);
        auto same = std::find_if(routes_.begin(), routes_.end(), [&](const Route& r) {
            return r.version31 == route.version31 && r.followRouter == route.followRouter &&
                   r.firstSource == route.firstSource && r.lastSource == route.lastSource &&
                   r.offset == route.offset;
        });
        if (same == routes_.end()) {
            same = routes_.insert(routes_.end(), route);
        }
        same->transports.push_back(i);
        same->targets += (same->targets.empty() ? "" : ", ") + target.toString();
    }
    for (int source = 1; source <= kSourceCount; ++source) {
        for (const bool routed : {false, true}) {
            TslDisplayState& state =
                (routed ? sent_.routed : sent_.displays)[static_cast<std::size_t>(source - 1)];
            state.index = displayIndex(source, config_.indexOffset);
            bool indexed = false;
            for (const Route& route : routes_) {
                if (route.followRouter != routed) {
                    continue;
                }
                if (route.carries(source) && !indexed) {
                    state.index = static_cast<std::uint16_t>(route.address(source));
                    indexed = true;
                }
                if (route.inRange(source) && !route.carries(source)) {
                    for (const std::size_t t : route.transports) {
                        state.unsentTo.push_back(config_.targets[t].toString());
                    }
                }
            }
            state.exact = state.unsentTo.empty();
        }
    }
    for (const Route& route : routes_) {
        const int lastAddressed = route.firstSource + Tsl31Encoder::kMaxAddress - route.offset;
        if (!route.version31 || route.lastSource <= lastAddressed) {
            continue;
        }
        const int firstLost = std::max(route.firstSource, lastAddressed + 1);
        const bool one = firstLost == route.lastSource;
        warnings_.push_back(
            "display output " + route.targets + (one ? ": source " : ": sources ") +
            sourceSpan(firstLost, route.lastSource) +
            (one ? " would need address " : " would need addresses ") +
            sourceSpan(route.address(firstLost), route.address(route.lastSource)) +
            ", beyond the TSL 3.1 range 0 to " + std::to_string(Tsl31Encoder::kMaxAddress) +
            (one ? ", and is not sent" : ", and are not sent") +
            "; give the target a source range (,sources=FIRST-LAST) and an offset, or put "
            "the rest on a second bus");
    }
}

std::uint8_t TslOutput::protocolBrightness(int level) {
    if (level >= kMinLevel && level <= kMaxLevel) {
        return static_cast<std::uint8_t>(level);
    }
    return kDefaultBrightness;
}

std::uint16_t TslOutput::displayIndex(int source, int indexOffset) {
    return static_cast<std::uint16_t>(source - 1 + indexOffset);
}

void TslOutput::setWall(const Names& names, int brightnessLevel) {
    Names routed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        routed = routed_;
    }
    setWall(names, routed, brightnessLevel);
}

void TslOutput::setWall(const Names& names, const Names& routed, int brightnessLevel) {
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        names_ = names;
        routed_ = routed;
        brightness_ = protocolBrightness(brightnessLevel);
        wallKnown_ = true;
        summaries = sendWallLocked("full refresh");
    }
    report(summaries);
}

bool TslOutput::setName(int source, const std::string& name) {
    if (source < 1 || source > kSourceCount) {
        return false;
    }
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        names_[static_cast<std::size_t>(source - 1)] = name;
        summaries = sendLocked({source}, "update", Routes::Sources);
    }
    report(summaries);
    return true;
}

bool TslOutput::setRoutedName(int destination, const std::string& name) {
    if (destination < 1 || destination > kSourceCount) {
        return false;
    }
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        routed_[static_cast<std::size_t>(destination - 1)] = name;
        summaries = sendLocked({destination}, "routed update", Routes::Routed);
    }
    report(summaries);
    return true;
}

void TslOutput::setTallies(const Tallies& sources, const Tallies& routed) {
    std::lock_guard<std::mutex> lock(mutex_);
    tallies_ = sources;
    routedTallies_ = routed;
}

bool TslOutput::setDisplays(const std::vector<TslDisplayUpdate>& updates, bool routed) {
    const bool inRange =
        std::all_of(updates.begin(), updates.end(), [](const TslDisplayUpdate& update) {
            return update.number >= 1 && update.number <= kSourceCount;
        });
    if (!inRange) {
        return false;
    }
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<int> numbers;
        for (const TslDisplayUpdate& update : updates) {
            const auto at = static_cast<std::size_t>(update.number - 1);
            (routed ? routed_ : names_)[at] = update.name;
            (routed ? routedTallies_ : tallies_)[at] = update.tally;
            numbers.push_back(update.number);
        }
        if (!numbers.empty()) {
            summaries = sendLocked(numbers, routed ? "routed update" : "update",
                                   routed ? Routes::Routed : Routes::Sources);
        }
    }
    report(summaries);
    return true;
}

bool TslOutput::followsRouter() const {
    return std::any_of(routes_.begin(), routes_.end(),
                       [](const Route& route) { return route.followRouter; });
}

void TslOutput::setBrightness(int brightnessLevel) {
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        brightness_ = protocolBrightness(brightnessLevel);
        if (wallKnown_) {
            summaries = sendWallLocked("brightness refresh");
        }
    }
    report(summaries);
}

void TslOutput::tick() {
    // Read before the lock: a transport's status takes a lock of its own.
    std::vector<std::uint64_t> openings;
    for (const auto& transport : transports_) {
        openings.push_back(transport->status().linkOpenings);
    }
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<bool> reopened(transports_.size(), false);
        bool anyReopened = false;
        for (std::size_t i = 0; i < transports_.size(); ++i) {
            if (openings[i] != openings_[i]) {
                openings_[i] = openings[i];
                reopened[i] = true;
                anyReopened = true;
            }
        }
        if (wallKnown_ && config_.refreshPeriod.count() > 0 &&
            clock_() - lastFullSend_ >= config_.refreshPeriod) {
            summaries = sendWallLocked("periodic refresh");
        } else if (wallKnown_ && anyReopened) {
            summaries =
                sendLocked(allSources(), "refresh of a reopened line", Routes::All, reopened);
        }
    }
    report(summaries);
}

bool TslOutput::setDriven(std::size_t target, bool driven) {
    if (target >= transports_.size()) {
        return false;
    }
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (driven_[target] == driven) {
            return true;
        }
        driven_[target] = driven;
        if (driven && wallKnown_) {
            std::vector<bool> only(transports_.size(), false);
            only[target] = true;
            ++sent_.fullRefreshes;
            summaries = sendLocked(allSources(), "full refresh of a newly driven target",
                                   Routes::All, only);
        }
    }
    report(summaries);
    return true;
}

bool TslOutput::driven(std::size_t target) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return target < driven_.size() && driven_[target];
}

TslWallSnapshot TslOutput::lastSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

std::vector<TslTransportStatus> TslOutput::transportStatus() const {
    std::vector<TslTransportStatus> statuses;
    for (std::size_t i = 0; i < transports_.size(); ++i) {
        statuses.push_back(transports_[i]->status());
        statuses.back().target = config_.targets[i].toString();
    }
    return statuses;
}

bool TslOutput::flush(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool all = true;
    for (const auto& transport : transports_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        all = transport->flush(std::max(left, std::chrono::milliseconds(0))) && all;
    }
    return all;
}

std::vector<std::string> TslOutput::sendWallLocked(const std::string& reason) {
    lastFullSend_ = clock_();
    if (std::find(driven_.begin(), driven_.end(), true) != driven_.end()) {
        ++sent_.fullRefreshes;
    }
    return sendLocked(allSources(), reason, Routes::All);
}

std::vector<std::string> TslOutput::sendLocked(const std::vector<int>& numbers,
                                               const std::string& reason, Routes which,
                                               const std::vector<bool>& to) {
    std::vector<std::string> summaries;
    for (const Route& route : routes_) {
        if ((which == Routes::Sources && route.followRouter) ||
            (which == Routes::Routed && !route.followRouter)) {
            continue;
        }
        const Names& texts = route.followRouter ? routed_ : names_;
        const Tallies& lamps = route.followRouter ? routedTallies_ : tallies_;
        std::vector<std::size_t> chosen;
        std::string chosenNames;
        for (const std::size_t t : route.transports) {
            if (driven_[t] && (to.empty() || to[t])) {
                chosen.push_back(t);
                chosenNames += (chosenNames.empty() ? "" : ", ") + config_.targets[t].toString();
            }
        }
        std::vector<TslDisplayMessage> messages;
        std::vector<int> carried;
        for (const int number : numbers) {
            if (chosen.empty() || !route.carries(number)) {
                continue;
            }
            TslDisplayMessage m;
            m.index = static_cast<std::uint16_t>(route.address(number));
            m.brightness = brightness_;
            m.text = texts[static_cast<std::size_t>(number - 1)];
            const TslTally& tally = lamps[static_cast<std::size_t>(number - 1)];
            m.rightTally = tally.right;
            m.textTally = tally.text;
            m.leftTally = tally.left;
            m.tallies31 = tally.tallies31;
            messages.push_back(std::move(m));
            carried.push_back(number);
        }
        const std::vector<TslPacket> packets =
            route.version31 ? encoder31_.encode(messages) : encoder_.encode(messages);
        for (std::size_t i = 0; i < packets.size(); ++i) {
            for (const std::size_t t : chosen) {
                transports_[t]->send(packets[i].bytes);
            }
            std::string line = describePacket(packets[i], messages, route.version31, i + 1,
                                              packets.size(), reason);
            // Unless every target takes the same bytes, the line says where
            // they went.
            if (routes_.size() > 1 || chosen.size() < route.transports.size()) {
                line += " to " + chosenNames;
            }
            summaries.push_back(std::move(line));
        }
        sent_.packets += packets.size();
        for (const int number : carried) {
            noteSentLocked(route.followRouter, number);
        }
    }
    return summaries;
}

void TslOutput::noteSentLocked(bool routed, int number) {
    const auto at = static_cast<std::size_t>(number - 1);
    TslDisplayState& state = (routed ? sent_.routed : sent_.displays)[at];
    state.text = (routed ? routed_ : names_)[at];
    state.brightness = brightness_;
    state.tally = (routed ? routedTallies_ : tallies_)[at];
    state.sent = true;
    const bool on31 = std::any_of(routes_.begin(), routes_.end(), [&](const Route& route) {
        return route.followRouter == routed && route.version31 && route.carries(number);
    });
    const bool cut = on31 && !Tsl31Encoder::showsExactly(state.text);
    state.shownAs = cut ? shown31(state.text) : std::string();
    state.exact = !cut && state.unsentTo.empty();
}

void TslOutput::report(const std::vector<std::string>& summaries) const {
    if (!onPacket_) {
        return;
    }
    for (const std::string& line : summaries) {
        onPacket_(line);
    }
}

}  // namespace tsl
