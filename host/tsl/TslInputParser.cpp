#include "TslInputParser.h"

#include "Tsl31Encoder.h"

namespace tsl {
namespace {

constexpr std::uint8_t kVersion5 = 0;
constexpr unsigned kTallyMask = 0x03;
constexpr unsigned kRightTallyShift = 0;
constexpr unsigned kTextTallyShift = 2;
constexpr unsigned kLeftTallyShift = 4;
// 3.1 control byte: tallies in bits 0 to 3; bit 7 is always clear.
constexpr std::uint8_t kControl31Tallies = 0x0F;
constexpr std::uint8_t kControl31Reserved = 0x80;
// Printable ASCII, which a 3.1 display shows.
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7F;
constexpr char32_t kReplacement = 0xFFFD;

std::uint16_t u16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

TslInputPacket refused(std::string why) {
    TslInputPacket packet;
    packet.error = std::move(why);
    return packet;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < kFirstPrintable || c == kDelete) {
        return;
    }
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string fromUtf16(const std::uint8_t* at, std::size_t bytes) {
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const char32_t unit = u16(at + i);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 3 < bytes) {
            const char32_t next = u16(at + i + 2);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, high || low ? kReplacement : unit);
    }
    return out;
}

// The ASCII text as sent; bytes outside ASCII become U+FFFD, control
// characters are left out.
std::string fromAscii(const std::uint8_t* at, std::size_t bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes; ++i) {
        appendUtf8(out, at[i] < 0x80 ? at[i] : kReplacement);
    }
    return out;
}

TallyColour colourAt(std::uint16_t control, unsigned shift) {
    return static_cast<TallyColour>((static_cast<unsigned>(control) >> shift) & kTallyMask);
}

}  // namespace

TslInputPacket TslInputParser::parse5(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::uint8_t> unframed;
    if (size >= 2 && bytes[0] == TslEncoder::kDle && bytes[1] == TslEncoder::kStx) {
        if (!unframe(bytes, size, unframed)) {
            return refused("a DLE byte in the frame is not doubled");
        }
        bytes = unframed.data();
        size = unframed.size();
    }
    if (size < TslEncoder::kPacketHeaderBytes) {
        return refused("packet of " + std::to_string(size) + " bytes is shorter than its header");
    }
    if (size > kMaxPacketBytes) {
        return refused("packet of " + std::to_string(size) + " bytes is longer than " +
                       std::to_string(kMaxPacketBytes));
    }
    const std::size_t counted = u16(bytes) + std::size_t{2};
    if (counted != size) {
        return refused("byte count says " + std::to_string(counted) + " bytes, the packet has " +
                       std::to_string(size));
    }
    if (bytes[2] != kVersion5) {
        return refused("version " + std::to_string(bytes[2]) + " is not 5.0 (0)");
    }
    const std::uint8_t flags = bytes[3];
    const std::uint16_t screen = u16(bytes + 4);
    TslInputPacket packet;
    if ((flags & kFlagScreenControl) != 0) {
        return packet;
    }
    const bool utf16 = (flags & TslEncoder::kFlagUtf16) != 0;
    for (std::size_t at = TslEncoder::kPacketHeaderBytes; at < size;) {
        if (size - at < TslEncoder::kMessageHeaderBytes) {
            return refused("display message " + std::to_string(packet.messages.size() + 1) +
                           " is cut short in its header");
        }
        const std::uint16_t control = u16(bytes + at + 2);
        const std::size_t length = u16(bytes + at + 4);
        const std::size_t text = at + TslEncoder::kMessageHeaderBytes;
        if (length > size - text) {
            return refused("display message " + std::to_string(packet.messages.size() + 1) +
                           " says " + std::to_string(length) + " text bytes, " +
                           std::to_string(size - text) + " are left");
        }
        if (utf16 && length % 2 != 0 && (control & kControlData) == 0) {
            return refused("display message " + std::to_string(packet.messages.size() + 1) +
                           " has an odd number of UTF-16 text bytes");
        }
        TslInputMessage m;
        m.index = u16(bytes + at);
        m.screen = screen;
        m.tally =
            TslTally::from5(colourAt(control, kRightTallyShift), colourAt(control, kTextTallyShift),
                            colourAt(control, kLeftTallyShift));
        if ((control & kControlData) == 0) {
            m.text = utf16 ? fromUtf16(bytes + text, length) : fromAscii(bytes + text, length);
        }
        packet.messages.push_back(std::move(m));
        at = text + length;
    }
    return packet;
}

TslInputPacket TslInputParser::parse31(const std::uint8_t* bytes, std::size_t size) {
    constexpr std::size_t kMessage = Tsl31Encoder::kMessageBytes;
    if (size == 0 || size % kMessage != 0) {
        return refused(std::to_string(size) + " bytes are no whole number of 18-byte messages");
    }
    if (size > kMaxPacketBytes) {
        return refused("packet of " + std::to_string(size) + " bytes is longer than " +
                       std::to_string(kMaxPacketBytes));
    }
    TslInputPacket packet;
    for (std::size_t at = 0; at < size; at += kMessage) {
        const std::uint8_t header = bytes[at];
        const std::uint8_t control = bytes[at + 1];
        const std::string number = std::to_string(at / kMessage + 1);
        if (header < Tsl31Encoder::kHeaderBase ||
            header > Tsl31Encoder::kHeaderBase + Tsl31Encoder::kMaxAddress) {
            return refused("message " + number + " has no address byte (0x80 to 0xFE)");
        }
        if ((control & kControl31Reserved) != 0) {
            return refused("message " + number + " has bit 7 of its control byte set");
        }
        TslInputMessage m;
        m.index = static_cast<std::uint16_t>(header - Tsl31Encoder::kHeaderBase);
        m.tally = TslTally::from31(control & kControl31Tallies);
        m.text = fromAscii(bytes + at + 2, Tsl31Encoder::kTextBytes);
        m.text.erase(m.text.find_last_not_of(' ') + 1);
        packet.messages.push_back(std::move(m));
    }
    return packet;
}

bool TslInputParser::unframe(const std::uint8_t* bytes, std::size_t size,
                             std::vector<std::uint8_t>& packet) {
    packet.clear();
    for (std::size_t i = 2; i < size; ++i) {
        if (bytes[i] == TslEncoder::kDle) {
            if (i + 1 >= size || bytes[i + 1] != TslEncoder::kDle) {
                return false;
            }
            ++i;
        }
        packet.push_back(bytes[i]);
    }
    return true;
}

}  // namespace tsl
