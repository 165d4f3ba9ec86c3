#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ember {

// S101 framing of outgoing data: the EmBER message header, byte escaping
// and the CRC. Stateless; every function may be called from any thread.
class S101Encoder {
  public:
    // Frame delimiters and the escape byte; bytes from kFirstEscaped up are
    // always escaped inside a frame (as CE, byte XOR kEscapeXor).
    static constexpr std::uint8_t kBeginOfFrame = 0xFE;
    static constexpr std::uint8_t kEndOfFrame = 0xFF;
    static constexpr std::uint8_t kCharacterEscape = 0xFD;
    static constexpr std::uint8_t kEscapeXor = 0x20;
    static constexpr std::uint8_t kFirstEscaped = 0xF8;
    // The header bytes every frame starts with: slot, message type, version.
    static constexpr std::uint8_t kSlot = 0x00;
    static constexpr std::uint8_t kMessageEmber = 0x0E;
    static constexpr std::uint8_t kVersion = 0x01;
    // Commands.
    static constexpr std::uint8_t kCommandEmber = 0x00;
    static constexpr std::uint8_t kCommandKeepAliveRequest = 0x01;
    static constexpr std::uint8_t kCommandKeepAliveResponse = 0x02;
    // Flags of an EmBER packet: which part of a message it carries.
    static constexpr std::uint8_t kFlagFirstPacket = 0x80;
    static constexpr std::uint8_t kFlagLastPacket = 0x40;
    static constexpr std::uint8_t kFlagEmptyPacket = 0x20;
    // The payload's schema: Glow, version 2.50 (sent minor byte first).
    static constexpr std::uint8_t kDtdGlow = 0x01;
    static constexpr std::uint8_t kGlowVersionMinor = 50;
    static constexpr std::uint8_t kGlowVersionMajor = 2;
    // Payload bytes per packet: providers on small devices read frames of
    // about a kilobyte, so longer messages are split into several packets.
    static constexpr std::size_t kMaxPayloadPerPacket = 1024;

    // The CRC-CCITT of S101 (reflected polynomial 0x8408, initial value
    // 0xFFFF), before the final inversion.
    static std::uint16_t crc(const std::uint8_t* data, std::size_t size);

    // One EmBER message as the frames that carry it, each complete with its
    // delimiters; a single frame unless the payload is long.
    static std::vector<std::vector<std::uint8_t>> message(const std::vector<std::uint8_t>& payload);
    static std::vector<std::uint8_t> keepAliveRequest();
    static std::vector<std::uint8_t> keepAliveResponse();

    // Escapes `body` (header and payload, unescaped), appends its inverted
    // CRC, least significant byte first, and the delimiters.
    static std::vector<std::uint8_t> frame(const std::vector<std::uint8_t>& body);
};

}  // namespace ember
