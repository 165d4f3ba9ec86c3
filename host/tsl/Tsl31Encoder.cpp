#include "Tsl31Encoder.h"

#include <algorithm>
#include <stdexcept>

#include "AsciiFolding.h"

namespace tsl {
namespace {

constexpr std::uint8_t kMaxBrightness = 3;

void appendMessage(std::vector<std::uint8_t>& out, const TslDisplayMessage& m) {
    if (m.index > Tsl31Encoder::kMaxAddress) {
        throw std::out_of_range("display address " + std::to_string(m.index) +
                                " is beyond the 3.1 range 0 to " +
                                std::to_string(Tsl31Encoder::kMaxAddress));
    }
    out.push_back(static_cast<std::uint8_t>(Tsl31Encoder::kHeaderBase + m.index));
    out.push_back(static_cast<std::uint8_t>(std::min(m.brightness, kMaxBrightness)
                                                << Tsl31Encoder::kBrightnessShift |
                                            (m.tallies31 & Tsl31Encoder::kTallyBits)));
    const std::string text = Tsl31Encoder::displayText(m.text);
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

Tsl31Encoder::Tsl31Encoder(std::size_t maxMessagesPerPacket)
    : messagesPerPacket_(maxMessagesPerPacket == TslEncoder::kNoMessageLimit
                             ? kMaxMessagesPerPacket
                             : std::min(maxMessagesPerPacket, kMaxMessagesPerPacket)) {}

std::vector<TslPacket> Tsl31Encoder::encode(const std::vector<TslDisplayMessage>& messages) const {
    std::vector<TslPacket> packets;
    for (std::size_t first = 0; first < messages.size(); first += messagesPerPacket_) {
        TslPacket packet;
        packet.firstMessage = first;
        packet.messageCount = std::min(messagesPerPacket_, messages.size() - first);
        packet.bytes.reserve(packet.messageCount * kMessageBytes);
        for (std::size_t i = first; i < first + packet.messageCount; ++i) {
            appendMessage(packet.bytes, messages[i]);
        }
        packets.push_back(std::move(packet));
    }
    return packets;
}

std::string Tsl31Encoder::displayText(std::string_view text) {
    std::string shown = AsciiFolding::fold(text);
    shown.resize(kTextBytes, ' ');
    return shown;
}

bool Tsl31Encoder::showsExactly(std::string_view text) {
    return text.size() <= kTextBytes && AsciiFolding::isPrintableAscii(text);
}

}  // namespace tsl
