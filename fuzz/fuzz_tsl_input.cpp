// The tally input's reading of arbitrary bytes from a vision mixer: the
// bytes as a 5.0 datagram and as a 3.1 datagram, and as a TCP stream cut
// into chunks whose sizes the input chooses. Malformed input must end in a
// refusal with a reason; a packet taken must hold only texts without
// control characters, and must read back the same when it is encoded again
// (5.0: index and lamps; 3.1: address and tallies). The same bytes framed
// for a stream must come out of the stream reader as one whole packet. A
// broken promise aborts with its text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Tsl31Encoder.h"
#include "TslEncoder.h"
#include "TslInputParser.h"
#include "TslStreamReader.h"

namespace {

void check(bool promise, const char* text) {
    if (!promise) {
        std::fprintf(stderr, "broken promise: %s\n", text);
        __builtin_trap();
    }
}

void checkTaken(const tsl::TslInputPacket& packet) {
    if (!packet.ok()) {
        check(packet.messages.empty(), "a refused packet keeps no message");
        return;
    }
    for (const tsl::TslInputMessage& m : packet.messages) {
        for (const char c : m.text) {
            check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "no control characters");
        }
    }
}

void checkRoundTrip5(const tsl::TslInputPacket& packet) {
    if (!packet.ok() || packet.messages.empty()) {
        return;
    }
    std::vector<tsl::TslDisplayMessage> messages;
    for (const tsl::TslInputMessage& m : packet.messages) {
        tsl::TslDisplayMessage out;
        out.index = m.index;
        out.rightTally = m.tally.right;
        out.textTally = m.tally.text;
        out.leftTally = m.tally.left;
        out.text = m.text;
        messages.push_back(out);
    }
    std::size_t at = 0;
    for (const tsl::TslPacket& encoded : tsl::TslEncoder().encode(messages)) {
        const tsl::TslInputPacket again =
            tsl::TslInputParser::parse5(encoded.bytes.data(), encoded.bytes.size());
        check(again.ok(), "an encoded packet is taken");
        check(again.messages.size() == encoded.messageCount, "every message comes back");
        for (const tsl::TslInputMessage& m : again.messages) {
            check(m.index == packet.messages[at].index, "index comes back");
            check(m.tally == packet.messages[at].tally, "lamps come back");
            ++at;
        }
    }
}

void checkRoundTrip31(const tsl::TslInputPacket& packet) {
    if (!packet.ok()) {
        return;
    }
    std::vector<tsl::TslDisplayMessage> messages;
    for (const tsl::TslInputMessage& m : packet.messages) {
        tsl::TslDisplayMessage out;
        out.index = m.index;
        out.tallies31 = m.tally.tallies31;
        out.text = m.text;
        messages.push_back(out);
    }
    std::size_t at = 0;
    for (const tsl::TslPacket& encoded : tsl::Tsl31Encoder().encode(messages)) {
        const tsl::TslInputPacket again =
            tsl::TslInputParser::parse31(encoded.bytes.data(), encoded.bytes.size());
        check(again.ok(), "an encoded 3.1 packet is taken");
        for (const tsl::TslInputMessage& m : again.messages) {
            check(m.index == packet.messages[at].index, "address comes back");
            check(m.tally.tallies31 == packet.messages[at].tally.tallies31, "tallies come back");
            check(!tsl::Tsl31Encoder::showsExactly(packet.messages[at].text) ||
                      m.text == packet.messages[at].text,
                  "3.1 text comes back");
            ++at;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 32;
    ++data;
    --size;

    const tsl::TslInputPacket five = tsl::TslInputParser::parse5(data, size);
    checkTaken(five);
    checkRoundTrip5(five);
    const tsl::TslInputPacket three = tsl::TslInputParser::parse31(data, size);
    checkTaken(three);
    checkRoundTrip31(three);

    tsl::TslStreamReader reader;
    for (std::size_t at = 0; at < size; at += chunk) {
        for (const tsl::TslStreamReader::Piece& piece :
             reader.take(data + at, std::min(chunk, size - at))) {
            check(piece.packet.empty() != piece.error.empty(), "a packet or a reason");
            checkTaken(tsl::TslInputParser::parse5(piece.packet.data(), piece.packet.size()));
        }
    }

    // A packet whose count is right comes out of a stream whole.
    const std::vector<std::uint8_t> packet(data, data + size);
    if (size >= 2 && size <= tsl::TslEncoder::kMaxPacketBytes &&
        static_cast<std::size_t>(data[0] | data[1] << 8) + 2 == size) {
        const std::vector<std::uint8_t> framed = tsl::TslEncoder::frameForStream(packet);
        tsl::TslStreamReader whole;
        std::vector<tsl::TslStreamReader::Piece> pieces;
        for (std::size_t at = 0; at < framed.size(); at += chunk) {
            for (auto& piece :
                 whole.take(framed.data() + at, std::min(chunk, framed.size() - at))) {
                pieces.push_back(std::move(piece));
            }
        }
        check(pieces.size() == 1 && pieces[0].packet == packet, "a framed packet comes out whole");
    }
    return 0;
}
