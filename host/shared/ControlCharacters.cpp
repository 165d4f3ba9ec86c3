#include "ControlCharacters.h"

namespace panelhost {
namespace {

// The last C0 control character, and DEL: every other byte below 0x80 is
// printable ASCII.
constexpr unsigned char kLastC0 = 0x1F;
constexpr unsigned char kDelete = 0x7F;
// The bits that mark a UTF-8 continuation byte (10xxxxxx), which does not
// start a character of its own.
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuation = 0x80;
constexpr const char* kHexDigits = "0123456789abcdef";
constexpr unsigned kNibble = 4;
constexpr unsigned kLowNibble = 0x0F;

}  // namespace

bool ControlCharacters::isControl(char character) {
    const auto byte = static_cast<unsigned char>(character);
    return byte <= kLastC0 || byte == kDelete;
}

std::optional<ControlCharacters::Found> ControlCharacters::first(std::string_view text) {
    std::size_t position = 0;
    for (const char character : text) {
        if ((static_cast<unsigned char>(character) & kContinuationMask) != kContinuation) {
            ++position;
        }
        if (isControl(character)) {
            return Found{character, position};
        }
    }
    return std::nullopt;
}

std::string ControlCharacters::refusal(const std::string& what, const Found& found) {
    return what + " holds a control character (" + escape(found.character) + ") at character " +
           std::to_string(found.position);
}

std::string ControlCharacters::spaced(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    bool inRun = false;
    for (const char character : text) {
        const bool control = isControl(character);
        if (!control) {
            result += character;
        } else if (!inRun) {
            result += ' ';
        }
        inRun = control;
    }
    return result;
}

std::string ControlCharacters::escaped(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char character : text) {
        if (character == '\\') {
            result += "\\\\";
        } else if (isControl(character)) {
            result += escape(character);
        } else {
            result += character;
        }
    }
    return result;
}

std::string ControlCharacters::escape(char character) {
    switch (character) {
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default: {
            const auto byte = static_cast<unsigned char>(character);
            return {'\\', 'x', kHexDigits[byte >> kNibble], kHexDigits[byte & kLowNibble]};
        }
    }
}

}  // namespace panelhost
