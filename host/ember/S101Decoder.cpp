#include "S101Decoder.h"

#include <cstdio>

#include "S101Encoder.h"

namespace ember {
namespace {

// Slot, message type, command and version precede every frame's data; the
// CRC follows it.
constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kCrcBytes = 2;
// Flags, DTD and the count of application bytes open an EmBER packet.
constexpr std::size_t kEmberHeaderBytes = 3;

std::string hex(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

}  // namespace

void S101Decoder::reset() {
    inFrame_ = false;
    escaped_ = false;
    inMessage_ = false;
    frame_.clear();
    message_.clear();
}

bool S101Decoder::feed(const std::uint8_t* data, std::size_t size, std::vector<Event>& out,
                       std::string& error) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (!inFrame_) {
            if (byte != S101Encoder::kBeginOfFrame) {
                error = "byte " + hex(byte) + " outside a frame";
                return false;
            }
            inFrame_ = true;
            frame_.clear();
            continue;
        }
        if (escaped_) {
            if (byte >= S101Encoder::kFirstEscaped) {
                error = "escape followed by " + hex(byte);
                return false;
            }
            escaped_ = false;
            frame_.push_back(static_cast<std::uint8_t>(byte ^ S101Encoder::kEscapeXor));
        } else if (byte == S101Encoder::kCharacterEscape) {
            escaped_ = true;
            continue;
        } else if (byte == S101Encoder::kEndOfFrame) {
            inFrame_ = false;
            if (!finishFrame(out, error)) {
                return false;
            }
            continue;
        } else if (byte >= S101Encoder::kFirstEscaped) {
            error = "unescaped " + hex(byte) + " inside a frame";
            return false;
        } else {
            frame_.push_back(byte);
        }
        if (frame_.size() > kMaxFrameBytes) {
            error = "frame longer than " + std::to_string(kMaxFrameBytes) + " bytes";
            return false;
        }
    }
    return true;
}

bool S101Decoder::finishFrame(std::vector<Event>& out, std::string& error) {
    if (frame_.size() < kHeaderBytes + kCrcBytes) {
        error = "frame of " + std::to_string(frame_.size()) + " bytes is too short";
        return false;
    }
    const std::size_t bodySize = frame_.size() - kCrcBytes;
    const auto expected = static_cast<std::uint16_t>(~S101Encoder::crc(frame_.data(), bodySize));
    const auto received =
        static_cast<std::uint16_t>(frame_[bodySize] | (frame_[bodySize + 1] << 8));
    if (expected != received) {
        error = "frame CRC mismatch";
        return false;
    }
    frame_.resize(bodySize);
    if (frame_[1] != S101Encoder::kMessageEmber) {
        error = "frame of message type " + hex(frame_[1]) + ", not EmBER";
        return false;
    }
    switch (frame_[2]) {
        case S101Encoder::kCommandKeepAliveRequest:
            out.push_back(Event{Event::Kind::KeepAliveRequest, {}});
            return true;
        case S101Encoder::kCommandKeepAliveResponse:
            out.push_back(Event{Event::Kind::KeepAliveResponse, {}});
            return true;
        case S101Encoder::kCommandEmber:
            return takePacket(kHeaderBytes, out, error);
        default:
            error = "unknown S101 command " + hex(frame_[2]);
            return false;
    }
}

bool S101Decoder::takePacket(std::size_t offset, std::vector<Event>& out, std::string& error) {
    if (frame_.size() < offset + kEmberHeaderBytes) {
        error = "EmBER packet without its header";
        return false;
    }
    const std::uint8_t flags = frame_[offset];
    const std::uint8_t dtd = frame_[offset + 1];
    const std::size_t appBytes = frame_[offset + 2];
    const std::size_t payload = offset + kEmberHeaderBytes + appBytes;
    if (frame_.size() < payload) {
        error = "EmBER packet shorter than its header";
        return false;
    }
    if (dtd != S101Encoder::kDtdGlow) {
        error = "EmBER packet with DTD " + hex(dtd) + ", not Glow";
        return false;
    }
    const bool first = (flags & S101Encoder::kFlagFirstPacket) != 0;
    const bool last = (flags & S101Encoder::kFlagLastPacket) != 0;
    if (first && inMessage_) {
        error = "a new message began before the previous one ended";
        return false;
    }
    if (!first && !inMessage_) {
        error = "continuation packet without a first packet";
        return false;
    }
    if (first) {
        message_.clear();
        inMessage_ = true;
    }
    if ((flags & S101Encoder::kFlagEmptyPacket) == 0) {
        message_.insert(message_.end(), frame_.begin() + static_cast<std::ptrdiff_t>(payload),
                        frame_.end());
    }
    if (message_.size() > kMaxMessageBytes) {
        error = "message longer than " + std::to_string(kMaxMessageBytes) + " bytes";
        return false;
    }
    if (last) {
        inMessage_ = false;
        out.push_back(Event{Event::Kind::Message, std::move(message_)});
        message_.clear();
    }
    return true;
}

}  // namespace ember
