#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tsl {

// Cuts a TSL 5.0 byte stream (TCP) into its packets: each starts with
// DLE/STX, doubles every DLE byte of the packet, and is as long as its byte
// count says. Bytes outside a frame, a frame that a new DLE/STX cuts short
// and a frame longer than a packet may be are reported as errors, and the
// reader goes on with the next frame. Used by one thread at a time.
class TslStreamReader {
  public:
    struct Piece {
        // A whole packet, unstuffed, or nothing with `error` saying why.
        std::vector<std::uint8_t> packet;
        std::string error;
    };

    // What `bytes` complete, in order; a packet still arriving is kept.
    std::vector<Piece> take(const std::uint8_t* bytes, std::size_t size);

  private:
    enum class State { Outside, AfterDleOutside, Inside, AfterDleInside };

    void startFrame();
    void add(std::uint8_t byte, std::vector<Piece>& pieces);

    State state_ = State::Outside;
    std::vector<std::uint8_t> packet_;
    std::size_t garbage_ = 0;
};

}  // namespace tsl
