#include "S101Encoder.h"

#include <algorithm>

namespace ember {
namespace {

// The CRC-CCITT polynomial x^16 + x^12 + x^5 + 1, bit-reversed.
constexpr std::uint16_t kCrcPolynomial = 0x8408;
constexpr std::uint16_t kCrcInitial = 0xFFFF;

void appendEscaped(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    if (byte >= S101Encoder::kFirstEscaped) {
        out.push_back(S101Encoder::kCharacterEscape);
        out.push_back(static_cast<std::uint8_t>(byte ^ S101Encoder::kEscapeXor));
    } else {
        out.push_back(byte);
    }
}

std::vector<std::uint8_t> header(std::uint8_t command) {
    return {S101Encoder::kSlot, S101Encoder::kMessageEmber, command, S101Encoder::kVersion};
}

}  // namespace

std::uint16_t S101Encoder::crc(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = kCrcInitial;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ kCrcPolynomial)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::vector<std::uint8_t> S101Encoder::frame(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out;
    out.reserve(body.size() + body.size() / 8 + 8);
    out.push_back(kBeginOfFrame);
    for (const std::uint8_t byte : body) {
        appendEscaped(out, byte);
    }
    const auto check = static_cast<std::uint16_t>(~crc(body.data(), body.size()));
    appendEscaped(out, static_cast<std::uint8_t>(check & 0xFFU));
    appendEscaped(out, static_cast<std::uint8_t>(check >> 8));
    out.push_back(kEndOfFrame);
    return out;
}

std::vector<std::vector<std::uint8_t>> S101Encoder::message(
    const std::vector<std::uint8_t>& payload) {
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t offset = 0;
    do {
        const std::size_t size = std::min(kMaxPayloadPerPacket, payload.size() - offset);
        std::uint8_t flags = 0;
        if (offset == 0) {
            flags |= kFlagFirstPacket;
        }
        if (offset + size == payload.size()) {
            flags |= kFlagLastPacket;
        }
        std::vector<std::uint8_t> body = header(kCommandEmber);
        body.insert(body.end(), {flags, kDtdGlow, 2, kGlowVersionMinor, kGlowVersionMajor});
        body.insert(body.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                    payload.begin() + static_cast<std::ptrdiff_t>(offset + size));
        frames.push_back(frame(body));
        offset += size;
    } while (offset < payload.size());
    return frames;
}

std::vector<std::uint8_t> S101Encoder::keepAliveRequest() {
    return frame(header(kCommandKeepAliveRequest));
}

std::vector<std::uint8_t> S101Encoder::keepAliveResponse() {
    return frame(header(kCommandKeepAliveResponse));
}

}  // namespace ember
