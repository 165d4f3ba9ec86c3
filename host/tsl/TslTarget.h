#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "SerialSettings.h"
#include "TslEncoder.h"

namespace tsl {

// The studio router's sources, numbered 1 to kSourceCount, one display each.
inline constexpr int kSourceCount = 128;

// Where display messages go: a receiver or a serial bus of displays, the
// protocol version it reads, and which sources it shows at which addresses.
// A plain value.
struct TslTarget {
    // Version 5.0 over UDP or TCP; version 3.1 over UDP or a serial line.
    enum class Protocol { Udp, Tcp, Udp31, Serial31 };

    // Keeps a 5.0 display index below 0xFFFF, which means "all".
    static constexpr int kMaxOffset = TslEncoder::kAllDisplays - kSourceCount;

    Protocol protocol = Protocol::Udp;
    // A host name, an IPv4 address or an IPv6 address (without brackets).
    std::string host;
    std::uint16_t port = 0;
    // The device of a serial target, e.g. "/dev/ttyUSB0".
    std::string device;
    SerialSettings serial;
    // The sources this target shows.
    int firstSource = 1;
    int lastSource = kSourceCount;
    // The display address of firstSource; nothing: the output's default
    // (--tsl-offset).
    std::optional<int> offset;
    // Display n shows the source routed to router destination n instead of
    // source n; `firstSource` to `lastSource` then count destinations.
    bool followRouter = false;

    // Parses "udp:HOST:PORT", "tcp:HOST:PORT", "udp31:HOST:PORT" or
    // "serial:DEVICE"; an IPv6 address is written in brackets
    // ("udp:[::1]:8900"). Options may follow, each after a comma:
    // "sources=FIRST-LAST" (or one source), "offset=N", "follow=router", and for a serial
    // target "baud=N", "parity=even|odd|none" and "stop=1|2". On failure
    // returns nothing and puts a message that quotes the text and says what
    // is wrong into `error`.
    static std::optional<TslTarget> parse(std::string_view targetText, std::string& error);

    // A network target of every source at the output's default offset.
    static TslTarget network(Protocol protocol, std::string host, std::uint16_t port) {
        TslTarget target;
        target.protocol = protocol;
        target.host = std::move(host);
        target.port = port;
        return target;
    }

    // The text this target was parsed from, in canonical form: options
    // only where they differ from the defaults, in the order above.
    std::string toString() const;

    // The receiver this target reaches, whatever it shows there: "udp:" (5.0
    // and 3.1 alike: one port on the receiver), "tcp:" or "serial:", then the
    // address as written with the host name in lower case, e.g.
    // "udp:mv-1.studio:8900", "udp:[::1]:8900", "serial:/dev/ttyUSB0". Two
    // targets with the same receiver() drive the same displays.
    std::string receiver() const;

    bool version31() const { return protocol == Protocol::Udp31 || protocol == Protocol::Serial31; }

    bool operator==(const TslTarget& other) const {
        return protocol == other.protocol && host == other.host && port == other.port &&
               device == other.device && serial == other.serial &&
               firstSource == other.firstSource && lastSource == other.lastSource &&
               offset == other.offset && followRouter == other.followRouter;
    }
};

}  // namespace tsl
