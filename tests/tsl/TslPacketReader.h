#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Test-side reading of version 5.0 packets and 3.1 messages, written from
// the wire layout rather than from the encoders, so their output can be
// checked.
namespace tsl_test {

struct ReadMessage {
    std::uint16_t index = 0;
    std::uint16_t control = 0;
    std::string text;  // UTF-8
};

struct ReadPacket {
    std::uint16_t pbc = 0;
    std::uint8_t version = 0;
    std::uint8_t flags = 0;
    std::uint16_t screen = 0;
    std::vector<ReadMessage> messages;
    // True when the messages used up exactly PBC bytes.
    bool consistent = false;
};

inline std::uint16_t u16At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

inline void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

inline std::string utf16leToUtf8(const std::vector<std::uint8_t>& b, std::size_t at,
                                 std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        std::uint32_t unit = u16At(b, at + i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < length) {
            const std::uint32_t low = u16At(b, at + i + 2);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        appendUtf8(out, unit);
    }
    return out;
}

inline ReadPacket readPacket(const std::vector<std::uint8_t>& b) {
    ReadPacket p;
    p.pbc = u16At(b, 0);
    p.version = b.at(2);
    p.flags = b.at(3);
    p.screen = u16At(b, 4);
    const std::size_t end = 2u + p.pbc;
    std::size_t at = 6;
    while (at + 6 <= end && end <= b.size()) {
        ReadMessage m;
        m.index = u16At(b, at);
        m.control = u16At(b, at + 2);
        const std::size_t length = u16At(b, at + 4);
        at += 6;
        if (at + length > end) {
            return p;
        }
        m.text = (p.flags & 1) != 0
                     ? utf16leToUtf8(b, at, length)
                     : std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                                   b.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        p.messages.push_back(m);
    }
    p.consistent = at == end && end == b.size();
    return p;
}

// A version 3.1 message: its address (header - 0x80), control byte and 16
// characters as sent.
struct ReadMessage31 {
    int address = 0;
    std::uint8_t control = 0;
    std::string text;
};

// The messages of a 3.1 packet; empty unless the packet is whole 18-byte
// messages, each with a header byte of 0x80 to 0xFE, a control byte below
// 0x40 and 16 printable ASCII characters.
inline std::vector<ReadMessage31> readMessages31(const std::vector<std::uint8_t>& b) {
    constexpr std::size_t kMessage = 18;
    std::vector<ReadMessage31> messages;
    if (b.empty() || b.size() % kMessage != 0) {
        return {};
    }
    for (std::size_t at = 0; at < b.size(); at += kMessage) {
        if (b[at] < 0x80 || b[at] == 0xFF || b[at + 1] >= 0x40) {
            return {};
        }
        const auto begin = b.begin() + static_cast<std::ptrdiff_t>(at);
        ReadMessage31 m{b[at] - 0x80, b[at + 1],
                        std::string(begin + 2, begin + static_cast<std::ptrdiff_t>(kMessage))};
        for (const char c : m.text) {
            if (c < 0x20 || c > 0x7E) {
                return {};
            }
        }
        messages.push_back(m);
    }
    return messages;
}

}  // namespace tsl_test
