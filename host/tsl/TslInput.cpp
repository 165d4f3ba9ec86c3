#include "TslInput.h"

#include <vector>

#include "Tsl31Encoder.h"
#include "TslOptionText.h"

namespace tsl {
namespace {

constexpr unsigned long kMaxPort = 65535;
// Digits of the largest port or offset; a longer number cannot be valid.
constexpr std::size_t kMaxDigits = 5;

struct Prefix {
    std::string_view text;
    TslInput::Protocol protocol;
};
constexpr Prefix kPrefixes[] = {{"udp:", TslInput::Protocol::Udp},
                                {"tcp:", TslInput::Protocol::Tcp},
                                {"udp31:", TslInput::Protocol::Udp31}};

bool parseNumber(std::string_view text, unsigned long& value) {
    return TslOptionText::parseNumber(text, kMaxDigits, value);
}

std::string parseOption(std::string_view option, TslInput& input,
                        std::vector<std::string_view>& seen) {
    std::string_view name;
    std::string_view value;
    if (std::string wrong = TslOptionText::split(option, seen, name, value); !wrong.empty()) {
        return wrong;
    }
    unsigned long number = 0;
    if (name == "offset") {
        const int maxOffset = input.version31() ? Tsl31Encoder::kMaxAddress : TslTarget::kMaxOffset;
        if (!parseNumber(value, number) || number > static_cast<unsigned long>(maxOffset)) {
            return "offset must be a number from 0 to " + std::to_string(maxOffset);
        }
        input.offset = static_cast<int>(number);
    } else if (name == "sources") {
        if (!TslOptionText::parseSources(value, kSourceCount, input.firstSource,
                                         input.lastSource)) {
            return "sources must be FIRST-LAST (or one source) within 1 to " +
                   std::to_string(kSourceCount);
        }
    } else if (name == "screen" && !input.version31()) {
        if (!parseNumber(value, number) || number >= TslEncoder::kAllScreens) {
            return "screen must be a number from 0 to " +
                   std::to_string(TslEncoder::kAllScreens - 1);
        }
        input.screen = static_cast<std::uint16_t>(number);
    } else if (name == "screen") {
        return "screen is for TSL 5.0 inputs only (3.1 has no screens)";
    } else if (name == "text") {
        if (value != "use") {
            return "text must be use (the sender's labels are ignored unless it is given)";
        }
        input.useText = true;
    } else {
        return "unknown option \"" + std::string(name) +
               "\" (known: offset, sources, text, screen)";
    }
    return "";
}

}  // namespace

std::optional<TslInput> TslInput::parse(std::string_view text, std::string& error) {
    TslInput input;
    std::string_view rest;
    bool known = false;
    for (const Prefix& p : kPrefixes) {
        if (text.substr(0, p.text.size()) == p.text) {
            input.protocol = p.protocol;
            rest = text.substr(p.text.size());
            known = true;
        }
    }
    std::string reason;
    unsigned long port = 0;
    const std::size_t comma = rest.find(',');
    if (!known) {
        reason = "unknown transport, use udp, tcp or udp31";
    } else if (!parseNumber(rest.substr(0, comma), port) || port == 0 || port > kMaxPort) {
        reason = "port must be a number from 1 to 65535 (the input listens on every address)";
    }
    input.port = static_cast<std::uint16_t>(port);
    std::vector<std::string_view> seen;
    for (std::size_t at = comma; reason.empty() && at != std::string_view::npos;) {
        const std::size_t next = rest.find(',', at + 1);
        reason =
            parseOption(rest.substr(at + 1, next == std::string_view::npos ? next : next - at - 1),
                        input, seen);
        at = next;
    }
    if (!reason.empty()) {
        error = "invalid tally input \"" + std::string(text) + "\": " + reason +
                " (expected udp:PORT, tcp:PORT or udp31:PORT, each optionally followed by "
                ",offset=N, ,sources=FIRST-LAST, ,text=use and (5.0) ,screen=N)";
        return std::nullopt;
    }
    error.clear();
    return input;
}

std::string TslInput::toString() const {
    std::string text;
    for (const Prefix& p : kPrefixes) {
        if (p.protocol == protocol) {
            text = std::string(p.text);
        }
    }
    text += std::to_string(port);
    if (offset) {
        text += ",offset=" + std::to_string(*offset);
    }
    if (firstSource != 1 || lastSource != kSourceCount) {
        text += ",sources=" + std::to_string(firstSource);
        if (lastSource != firstSource) {
            text += "-" + std::to_string(lastSource);
        }
    }
    if (useText) {
        text += ",text=use";
    }
    if (screen) {
        text += ",screen=" + std::to_string(*screen);
    }
    return text;
}

bool TslInput::takesScreen(std::uint16_t messageScreen) const {
    return !screen || messageScreen == *screen || messageScreen == TslEncoder::kAllScreens;
}

std::optional<int> TslInput::sourceOf(int address, int defaultOffset) const {
    const int source = address - offset.value_or(defaultOffset) + firstSource;
    if (source < firstSource || source > lastSource) {
        return std::nullopt;
    }
    return source;
}

}  // namespace tsl
