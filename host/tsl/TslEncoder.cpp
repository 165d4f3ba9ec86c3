#include "TslEncoder.h"

#include <algorithm>

#include "Utf8Decoder.h"

namespace tsl {
namespace {

constexpr std::uint8_t kVersion5 = 0;
constexpr std::uint8_t kMaxBrightness = 3;
constexpr int kRightTallyShift = 0;
constexpr int kTextTallyShift = 2;
constexpr int kLeftTallyShift = 4;
constexpr int kBrightnessShift = 6;
constexpr std::size_t kMaxUtf16Units = TslEncoder::kMaxTextBytes / 2;

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// A message's text in both encodings, each already cut to what one packet
// can carry, so that the packer only has to add up sizes.
struct PreparedText {
    bool ascii = true;
    std::string asciiText;
    std::u16string utf16Text;
};

PreparedText prepare(const std::string& utf8) {
    PreparedText p;
    p.ascii = isAscii(utf8);
    if (p.ascii) {
        p.asciiText = utf8.substr(0, TslEncoder::kMaxTextBytes);
        p.utf16Text.assign(utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(
                                                            std::min(utf8.size(), kMaxUtf16Units)));
        return p;
    }
    p.utf16Text = decodeUtf8ToUtf16(utf8);
    if (p.utf16Text.size() > kMaxUtf16Units) {
        p.utf16Text.resize(kMaxUtf16Units);
        if (isHighSurrogate(p.utf16Text.back())) {
            p.utf16Text.pop_back();
        }
    }
    return p;
}

std::size_t messageBytes(const PreparedText& text, bool utf16) {
    return TslEncoder::kMessageHeaderBytes +
           (utf16 ? 2 * text.utf16Text.size() : text.asciiText.size());
}

void putU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t controlWord(const TslDisplayMessage& m) {
    const unsigned brightness = std::min(m.brightness, kMaxBrightness);
    return static_cast<std::uint16_t>(static_cast<unsigned>(m.rightTally) << kRightTallyShift |
                                      static_cast<unsigned>(m.textTally) << kTextTallyShift |
                                      static_cast<unsigned>(m.leftTally) << kLeftTallyShift |
                                      brightness << kBrightnessShift);
}

}  // namespace

TslEncoder::TslEncoder(std::uint16_t screen, std::size_t maxMessagesPerPacket)
    : screen_(screen), maxMessagesPerPacket_(maxMessagesPerPacket) {}

std::vector<TslPacket> TslEncoder::encode(const std::vector<TslDisplayMessage>& messages) const {
    std::vector<PreparedText> texts;
    texts.reserve(messages.size());
    for (const TslDisplayMessage& m : messages) {
        texts.push_back(prepare(m.text));
    }

    std::vector<TslPacket> packets;
    auto emit = [&](std::size_t first, std::size_t count, bool utf16) {
        TslPacket packet;
        packet.firstMessage = first;
        packet.messageCount = count;
        packet.utf16 = utf16;
        std::vector<std::uint8_t>& out = packet.bytes;
        putU16(out, 0);
        out.push_back(kVersion5);
        out.push_back(utf16 ? kFlagUtf16 : 0);
        putU16(out, screen_);
        for (std::size_t i = first; i < first + count; ++i) {
            putU16(out, messages[i].index);
            putU16(out, controlWord(messages[i]));
            const PreparedText& t = texts[i];
            putU16(out,
                   static_cast<std::uint16_t>(utf16 ? 2 * t.utf16Text.size() : t.asciiText.size()));
            if (utf16) {
                for (const char16_t unit : t.utf16Text) {
                    putU16(out, unit);
                }
            } else {
                out.insert(out.end(), t.asciiText.begin(), t.asciiText.end());
            }
        }
        const auto pbc = static_cast<std::uint16_t>(out.size() - 2);
        out[0] = static_cast<std::uint8_t>(pbc & 0xFF);
        out[1] = static_cast<std::uint8_t>(pbc >> 8);
        packets.push_back(std::move(packet));
    };

    std::size_t first = 0;
    std::size_t count = 0;
    bool utf16 = false;
    // Running body sizes of the open packet in either encoding; the ASCII
    // one only matters while every text in the packet is ASCII.
    std::size_t asciiBody = 0;
    std::size_t utf16Body = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const bool wantsUtf16 = utf16 || !texts[i].ascii;
        const std::size_t body = wantsUtf16 ? utf16Body + messageBytes(texts[i], true)
                                            : asciiBody + messageBytes(texts[i], false);
        const bool full =
            count > 0 &&
            (kPacketHeaderBytes + body > kMaxPacketBytes ||
             (maxMessagesPerPacket_ != kNoMessageLimit && count == maxMessagesPerPacket_));
        if (full) {
            emit(first, count, utf16);
            first = i;
            count = 0;
            utf16 = false;
            asciiBody = 0;
            utf16Body = 0;
        }
        utf16 = utf16 || !texts[i].ascii;
        asciiBody += messageBytes(texts[i], false);
        utf16Body += messageBytes(texts[i], true);
        ++count;
    }
    if (count > 0) {
        emit(first, count, utf16);
    }
    return packets;
}

std::vector<std::uint8_t> TslEncoder::frameForStream(const std::vector<std::uint8_t>& packet) {
    std::vector<std::uint8_t> out;
    out.reserve(packet.size() + packet.size() / 8 + 2);
    out.push_back(kDle);
    out.push_back(kStx);
    for (const std::uint8_t b : packet) {
        out.push_back(b);
        if (b == kDle) {
            out.push_back(kDle);
        }
    }
    return out;
}

}  // namespace tsl
