#include "TslStreamReader.h"

#include "TslEncoder.h"

namespace tsl {
namespace {

// The byte count field in front of every packet.
constexpr std::size_t kCountBytes = 2;

}  // namespace

std::vector<TslStreamReader::Piece> TslStreamReader::take(const std::uint8_t* bytes,
                                                          std::size_t size) {
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state_) {
            case State::Outside:
                if (b == TslEncoder::kDle) {
                    state_ = State::AfterDleOutside;
                } else {
                    ++garbage_;
                }
                break;
            case State::AfterDleOutside:
                if (b == TslEncoder::kStx) {
                    startFrame();
                    if (garbage_ > 0) {
                        pieces.push_back({{}, std::to_string(garbage_) + " bytes outside a frame"});
                        garbage_ = 0;
                    }
                } else if (b == TslEncoder::kDle) {
                    ++garbage_;
                } else {
                    garbage_ += 2;
                    state_ = State::Outside;
                }
                break;
            case State::Inside:
                if (b == TslEncoder::kDle) {
                    state_ = State::AfterDleInside;
                } else {
                    add(b, pieces);
                }
                break;
            case State::AfterDleInside:
                if (b == TslEncoder::kDle) {
                    state_ = State::Inside;
                    add(b, pieces);
                } else if (b == TslEncoder::kStx) {
                    pieces.push_back({{},
                                      "a frame of " + std::to_string(packet_.size()) +
                                          " bytes is cut short by the next one"});
                    startFrame();
                } else {
                    pieces.push_back({{}, "a DLE byte in the frame is not doubled"});
                    packet_.clear();
                    state_ = State::Outside;
                }
                break;
        }
    }
    return pieces;
}

void TslStreamReader::startFrame() {
    packet_.clear();
    state_ = State::Inside;
}

void TslStreamReader::add(std::uint8_t byte, std::vector<Piece>& pieces) {
    packet_.push_back(byte);
    if (packet_.size() < kCountBytes) {
        return;
    }
    const std::size_t total =
        (static_cast<std::size_t>(packet_[0]) | static_cast<std::size_t>(packet_[1]) << 8) +
        kCountBytes;
    if (total > TslEncoder::kMaxPacketBytes) {
        pieces.push_back({{},
                          "a frame says " + std::to_string(total) + " bytes, more than " +
                              std::to_string(TslEncoder::kMaxPacketBytes)});
        packet_.clear();
        state_ = State::Outside;
    } else if (packet_.size() == total) {
        pieces.push_back({std::move(packet_), {}});
        packet_.clear();
        state_ = State::Outside;
    }
}

}  // namespace tsl
