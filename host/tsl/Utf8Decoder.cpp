#include "Utf8Decoder.h"

#include <cstdint>

namespace tsl {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::uint32_t kFirstSupplementary = 0x10000;
constexpr char16_t kHighSurrogateBase = 0xD800;
constexpr char16_t kLowSurrogateBase = 0xDC00;
constexpr std::uint32_t kSurrogatePayloadMask = 0x3FF;

void appendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp < kFirstSupplementary) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    const std::uint32_t v = cp - kFirstSupplementary;
    out.push_back(static_cast<char16_t>(kHighSurrogateBase + (v >> 10)));
    out.push_back(static_cast<char16_t>(kLowSurrogateBase + (v & kSurrogatePayloadMask)));
}

// The lead byte's sequence length and the allowed range of the second byte.
// The narrowed ranges after E0, ED, F0 and F4 are what excludes overlong
// forms, surrogates and values above U+10FFFF.
struct LeadByte {
    int length;
    std::uint8_t secondLow;
    std::uint8_t secondHigh;
    std::uint32_t payload;
};

bool classifyLead(std::uint8_t b, LeadByte& lead) {
    if (b >= 0xC2 && b <= 0xDF) {
        lead = {2, 0x80, 0xBF, b & 0x1Fu};
    } else if (b == 0xE0) {
        lead = {3, 0xA0, 0xBF, b & 0x0Fu};
    } else if (b == 0xED) {
        lead = {3, 0x80, 0x9F, b & 0x0Fu};
    } else if (b >= 0xE1 && b <= 0xEF) {
        lead = {3, 0x80, 0xBF, b & 0x0Fu};
    } else if (b == 0xF0) {
        lead = {4, 0x90, 0xBF, b & 0x07u};
    } else if (b == 0xF4) {
        lead = {4, 0x80, 0x8F, b & 0x07u};
    } else if (b >= 0xF1 && b <= 0xF3) {
        lead = {4, 0x80, 0xBF, b & 0x07u};
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::u16string decodeUtf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<std::uint8_t>(utf8[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        LeadByte lead{};
        if (!classifyLead(b, lead)) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::uint32_t cp = lead.payload;
        std::size_t next = i + 1;
        bool complete = true;
        for (int k = 1; k < lead.length; ++k, ++next) {
            const std::uint8_t low = k == 1 ? lead.secondLow : 0x80;
            const std::uint8_t high = k == 1 ? lead.secondHigh : 0xBF;
            if (next >= utf8.size()) {
                complete = false;
                break;
            }
            const auto c = static_cast<std::uint8_t>(utf8[next]);
            if (c < low || c > high) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (complete) {
            appendCodePoint(out, cp);
        } else {
            out.push_back(kReplacement);
        }
        i = next;
    }
    return out;
}

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace tsl
