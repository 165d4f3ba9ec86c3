#include "TslOptionText.h"

namespace tsl {
namespace {

// Digits of the largest source number (a receiver has at most a few
// hundred); a longer number cannot be valid.
constexpr std::size_t kMaxSourceDigits = 6;

}  // namespace

bool TslOptionText::parseNumber(std::string_view text, std::size_t maxDigits,
                                unsigned long& value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return true;
}

std::string TslOptionText::split(std::string_view option, std::vector<std::string_view>& seen,
                                 std::string_view& name, std::string_view& value) {
    if (option.empty()) {
        return "empty option";
    }
    const std::size_t eq = option.find('=');
    if (eq == std::string_view::npos) {
        return "option \"" + std::string(option) + "\" needs a value (NAME=VALUE)";
    }
    name = option.substr(0, eq);
    value = option.substr(eq + 1);
    for (const std::string_view earlier : seen) {
        if (earlier == name) {
            return "option " + std::string(name) + " is given twice";
        }
    }
    seen.push_back(name);
    return "";
}

bool TslOptionText::parseSources(std::string_view text, int count, int& first, int& last) {
    const std::size_t dash = text.find('-');
    const std::string_view firstText = text.substr(0, dash);
    const std::string_view lastText =
        dash == std::string_view::npos ? firstText : text.substr(dash + 1);
    unsigned long from = 0;
    unsigned long to = 0;
    if (!parseNumber(firstText, kMaxSourceDigits, from) ||
        !parseNumber(lastText, kMaxSourceDigits, to) || from < 1 || from > to ||
        to > static_cast<unsigned long>(count)) {
        return false;
    }
    first = static_cast<int>(from);
    last = static_cast<int>(to);
    return true;
}

}  // namespace tsl
