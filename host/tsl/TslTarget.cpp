#include "TslTarget.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "SerialPort.h"
#include "Tsl31Encoder.h"
#include "TslOptionText.h"

namespace tsl {
namespace {

constexpr std::string_view kUdpPrefix = "udp:";
constexpr std::string_view kTcpPrefix = "tcp:";
constexpr std::string_view kUdp31Prefix = "udp31:";
constexpr std::string_view kSerialPrefix = "serial:";
constexpr unsigned long kMaxPort = 65535;
// Digits of the largest port; a longer number cannot be valid.
constexpr std::size_t kMaxPortDigits = 5;
// Digits of the largest number an option takes (a speed of 230400).
constexpr std::size_t kMaxOptionDigits = 6;

void fail(std::string& error, std::string_view targetText, std::string_view what) {
    error = "invalid display target \"" + std::string(targetText) + "\": " + std::string(what) +
            " (expected udp:HOST:PORT, tcp:HOST:PORT, udp31:HOST:PORT or serial:DEVICE, each "
            "optionally followed by ,sources=FIRST-LAST, ,offset=N and ,follow=router)";
}

// Letters, digits, '.', '-' and '_' make host names and IPv4 addresses;
// ':' and '%' (zone) occur only in bracketed IPv6 addresses.
bool validHost(std::string_view host, bool bracketed) {
    for (const char c : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        const bool ipv6 = bracketed && (c == ':' || c == '%');
        if (!plain && !ipv6) {
            return false;
        }
    }
    return true;
}

bool parsePort(std::string_view text, std::uint16_t& port) {
    unsigned long value = 0;
    if (!TslOptionText::parseNumber(text, kMaxPortDigits, value) || value == 0 ||
        value > kMaxPort) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

struct Prefix {
    std::string_view text;
    TslTarget::Protocol protocol;
};
constexpr Prefix kPrefixes[] = {{kUdpPrefix, TslTarget::Protocol::Udp},
                                {kTcpPrefix, TslTarget::Protocol::Tcp},
                                {kUdp31Prefix, TslTarget::Protocol::Udp31},
                                {kSerialPrefix, TslTarget::Protocol::Serial31}};

std::string_view prefixOf(TslTarget::Protocol protocol) {
    for (const Prefix& p : kPrefixes) {
        if (p.protocol == protocol) {
            return p.text;
        }
    }
    return {};
}

// Reads "HOST:PORT" into `target`; the reason it is wrong, or "".
std::string parseAddress(std::string_view rest, TslTarget& target) {
    std::string_view host;
    std::string_view portText;
    const bool bracketed = !rest.empty() && rest.front() == '[';
    if (bracketed) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            return "missing ']' after the IPv6 address";
        }
        host = rest.substr(1, close - 1);
        if (close + 1 >= rest.size() || rest[close + 1] != ':') {
            return "missing ':PORT' after the address";
        }
        portText = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            return "missing ':PORT'";
        }
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            return "write an IPv6 address in brackets, e.g. udp:[::1]:8900";
        }
    }
    if (host.empty()) {
        return "missing host";
    }
    if (!validHost(host, bracketed)) {
        return "the host contains characters no host name or address has";
    }
    if (!parsePort(portText, target.port)) {
        return "port must be a number from 1 to 65535";
    }
    target.host = std::string(host);
    return "";
}

// Applies one "NAME=VALUE" option to `target`; the reason it is wrong, or
// "". `seen` collects the names given so far.
std::string parseOption(std::string_view option, TslTarget& target,
                        std::vector<std::string_view>& seen) {
    std::string_view name;
    std::string_view value;
    if (std::string wrong = TslOptionText::split(option, seen, name, value); !wrong.empty()) {
        return wrong;
    }
    const bool serial = target.protocol == TslTarget::Protocol::Serial31;
    unsigned long number = 0;
    if (name == "sources") {
        if (!TslOptionText::parseSources(value, kSourceCount, target.firstSource,
                                         target.lastSource)) {
            return "sources must be FIRST-LAST (or one source) within 1 to " +
                   std::to_string(kSourceCount);
        }
    } else if (name == "offset") {
        const int maxOffset =
            target.version31() ? Tsl31Encoder::kMaxAddress : TslTarget::kMaxOffset;
        if (!TslOptionText::parseNumber(value, kMaxOptionDigits, number) ||
            number > static_cast<unsigned long>(maxOffset)) {
            return "offset must be a number from 0 to " + std::to_string(maxOffset);
        }
        target.offset = static_cast<int>(number);
    } else if (name == "follow") {
        if (value != "router") {
            return "follow must be router";
        }
        target.followRouter = true;
    } else if (serial && name == "baud") {
        if (!TslOptionText::parseNumber(value, kMaxOptionDigits, number) ||
            !SerialPort::supportedBaud(static_cast<int>(number))) {
            return "baud must be a standard speed from 1200 to 230400";
        }
        target.serial.baud = static_cast<int>(number);
    } else if (serial && name == "parity") {
        if (value == "even") {
            target.serial.parity = SerialSettings::Parity::Even;
        } else if (value == "odd") {
            target.serial.parity = SerialSettings::Parity::Odd;
        } else if (value == "none") {
            target.serial.parity = SerialSettings::Parity::None;
        } else {
            return "parity must be even, odd or none";
        }
    } else if (serial && name == "stop") {
        if (value != "1" && value != "2") {
            return "stop must be 1 or 2";
        }
        target.serial.stopBits = value == "1" ? 1 : 2;
    } else if (name == "baud" || name == "parity" || name == "stop") {
        return "option " + std::string(name) + " is for serial targets only";
    } else {
        return "unknown option \"" + std::string(name) +
               "\" (known: sources, offset, follow; for serial targets also baud, parity, stop)";
    }
    return "";
}

const char* parityName(SerialSettings::Parity parity) {
    switch (parity) {
        case SerialSettings::Parity::Even:
            return "even";
        case SerialSettings::Parity::Odd:
            return "odd";
        case SerialSettings::Parity::None:
            return "none";
    }
    return "even";
}

}  // namespace

std::optional<TslTarget> TslTarget::parse(std::string_view targetText, std::string& error) {
    TslTarget target;
    std::string_view rest;
    bool known = false;
    for (const Prefix& p : kPrefixes) {
        if (targetText.substr(0, p.text.size()) == p.text) {
            target.protocol = p.protocol;
            rest = targetText.substr(p.text.size());
            known = true;
        }
    }
    if (!known) {
        fail(error, targetText, "unknown transport, use udp, tcp, udp31 or serial");
        return std::nullopt;
    }
    const std::size_t comma = rest.find(',');
    const std::string_view address = rest.substr(0, comma);
    std::string reason;
    if (target.protocol == Protocol::Serial31) {
        if (address.empty() || address.front() != '/') {
            reason = "give the serial device's full path, e.g. serial:/dev/ttyUSB0";
        }
        target.device = std::string(address);
    } else {
        reason = parseAddress(address, target);
    }
    std::vector<std::string_view> seen;
    for (std::size_t at = comma; reason.empty() && at != std::string_view::npos;) {
        const std::size_t next = rest.find(',', at + 1);
        reason =
            parseOption(rest.substr(at + 1, next == std::string_view::npos ? std::string_view::npos
                                                                           : next - at - 1),
                        target, seen);
        at = next;
    }
    if (!reason.empty()) {
        fail(error, targetText, reason);
        return std::nullopt;
    }
    error.clear();
    return target;
}

std::string TslTarget::toString() const {
    std::string text(prefixOf(protocol));
    if (protocol == Protocol::Serial31) {
        text += device;
    } else {
        text += host.find(':') == std::string::npos ? host : "[" + host + "]";
        text += ":" + std::to_string(port);
    }
    if (firstSource != 1 || lastSource != kSourceCount) {
        text += ",sources=" + std::to_string(firstSource);
        if (lastSource != firstSource) {
            text += "-" + std::to_string(lastSource);
        }
    }
    if (offset) {
        text += ",offset=" + std::to_string(*offset);
    }
    if (followRouter) {
        text += ",follow=router";
    }
    if (serial.baud != SerialSettings::kDefaultBaud) {
        text += ",baud=" + std::to_string(serial.baud);
    }
    if (serial.parity != SerialSettings::kDefaultParity) {
        text += std::string(",parity=") + parityName(serial.parity);
    }
    if (serial.stopBits != SerialSettings::kDefaultStopBits) {
        text += ",stop=" + std::to_string(serial.stopBits);
    }
    return text;
}

std::string TslTarget::receiver() const {
    if (protocol == Protocol::Serial31) {
        return "serial:" + device;
    }
    std::string name = host;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const char* transport = protocol == Protocol::Tcp ? "tcp:" : "udp:";
    return transport + (name.find(':') == std::string::npos ? name : "[" + name + "]") + ":" +
           std::to_string(port);
}

}  // namespace tsl
