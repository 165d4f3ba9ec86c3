#include "TslOutput.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "TcpTslSender.h"
#include "UdpTslSender.h"

namespace tsl {
namespace {

// The host's brightness levels, one per brightness button of the panel; the
// protocol's values 1 to 3 match them one to one.
constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 3;

const TslOutputConfig& validated(const TslOutputConfig& config) {
    if (config.indexOffset < 0 || config.indexOffset > TslOutput::kMaxIndexOffset) {
        throw std::invalid_argument("display index offset " + std::to_string(config.indexOffset) +
                                    " is out of range 0 to " +
                                    std::to_string(TslOutput::kMaxIndexOffset));
    }
    if (config.refreshPeriod.count() < 0) {
        throw std::invalid_argument("the refresh period must not be negative");
    }
    return config;
}

std::string describePacket(const TslPacket& packet, const std::vector<TslDisplayMessage>& messages,
                           std::size_t number, std::size_t total, const std::string& reason) {
    const TslDisplayMessage& first = messages[packet.firstMessage];
    const TslDisplayMessage& last = messages[packet.firstMessage + packet.messageCount - 1];
    std::string line =
        "TSL " + reason + " " + std::to_string(number) + "/" + std::to_string(total) + ": ";
    if (packet.messageCount == 1) {
        line += "display " + std::to_string(first.index) + " \"" + first.text + "\"";
    } else {
        line += "displays " + std::to_string(first.index) + "-" + std::to_string(last.index) +
                " (" + std::to_string(packet.messageCount) + ")";
    }
    line += packet.utf16 ? ", UTF-16" : ", ASCII";
    line += ", " + std::to_string(packet.bytes.size()) + " bytes, brightness " +
            std::to_string(first.brightness);
    return line;
}

std::unique_ptr<TslTransport> makeSender(const TslTarget& target, bool udpDleStx,
                                         const TslStatusCallback& onStatus) {
    if (target.protocol == TslTarget::Protocol::Tcp) {
        return std::make_unique<TcpTslSender>(target.host, target.port, onStatus);
    }
    return std::make_unique<UdpTslSender>(target.host, target.port, udpDleStx, onStatus);
}

}  // namespace

std::unique_ptr<TslOutput> TslOutput::create(const TslOutputConfig& config,
                                             SummaryCallback onPacket, TslStatusCallback onStatus) {
    validated(config);
    std::vector<std::unique_ptr<TslTransport>> transports;
    for (const TslTarget& target : config.targets) {
        transports.push_back(makeSender(target, config.udpDleStx, onStatus));
    }
    return std::make_unique<TslOutput>(config, std::move(transports), std::move(onPacket));
}

TslOutput::TslOutput(const TslOutputConfig& config,
                     std::vector<std::unique_ptr<TslTransport>> transports,
                     SummaryCallback onPacket, Clock clock)
    : config_(validated(config)),
      encoder_(config.screen, config.maxMessagesPerPacket),
      transports_(std::move(transports)),
      onPacket_(std::move(onPacket)),
      clock_(std::move(clock)) {
    for (int source = 1; source <= kSourceCount; ++source) {
        sent_.displays[static_cast<std::size_t>(source - 1)].index =
            displayIndex(source, config_.indexOffset);
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
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        names_ = names;
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
        TslDisplayMessage message;
        message.index = displayIndex(source, config_.indexOffset);
        message.brightness = brightness_;
        message.text = name;
        summaries = sendLocked({message}, "update");
    }
    report(summaries);
    return true;
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
    std::vector<std::string> summaries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (wallKnown_ && config_.refreshPeriod.count() > 0 &&
            clock_() - lastFullSend_ >= config_.refreshPeriod) {
            summaries = sendWallLocked("periodic refresh");
        }
    }
    report(summaries);
}

TslWallSnapshot TslOutput::lastSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

std::vector<TslTransportStatus> TslOutput::transportStatus() const {
    std::vector<TslTransportStatus> statuses;
    for (const auto& transport : transports_) {
        statuses.push_back(transport->status());
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
    std::vector<TslDisplayMessage> messages(kSourceCount);
    for (int source = 1; source <= kSourceCount; ++source) {
        TslDisplayMessage& m = messages[static_cast<std::size_t>(source - 1)];
        m.index = displayIndex(source, config_.indexOffset);
        m.brightness = brightness_;
        m.text = names_[static_cast<std::size_t>(source - 1)];
    }
    lastFullSend_ = clock_();
    ++sent_.fullRefreshes;
    return sendLocked(messages, reason);
}

std::vector<std::string> TslOutput::sendLocked(const std::vector<TslDisplayMessage>& messages,
                                               const std::string& reason) {
    const std::vector<TslPacket> packets = encoder_.encode(messages);
    std::vector<std::string> summaries;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        for (const auto& transport : transports_) {
            transport->send(packets[i].bytes);
        }
        summaries.push_back(describePacket(packets[i], messages, i + 1, packets.size(), reason));
    }
    for (const TslDisplayMessage& m : messages) {
        TslDisplayState& state =
            sent_.displays[static_cast<std::size_t>(m.index - config_.indexOffset)];
        state.text = m.text;
        state.brightness = m.brightness;
        state.sent = true;
    }
    sent_.packets += packets.size();
    return summaries;
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
