#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ember {

// Reassembles S101 frames from a byte stream that arrives in chunks of any
// size: removes the escaping, checks each frame's CRC and header, and joins
// the packets of a multi-packet EmBER message. Any violation is reported as
// an error, after which the decoder must be reset before it is fed again.
// Not thread-safe: one decoder per connection, used by one thread.
class S101Decoder {
  public:
    // Bounds that keep a faulty or hostile peer from exhausting memory: a
    // frame larger than any provider sends, and a message far larger than
    // the tree of a big router.
    static constexpr std::size_t kMaxFrameBytes = 64 * 1024;
    static constexpr std::size_t kMaxMessageBytes = 16 * 1024 * 1024;

    struct Event {
        enum class Kind { KeepAliveRequest, KeepAliveResponse, Message };
        Kind kind = Kind::Message;
        // The EmBER payload of a complete message; empty for keep-alives.
        std::vector<std::uint8_t> payload;
    };

    // Consumes `size` bytes and appends every event they complete to `out`.
    // False on malformed input; `error` then says what was wrong.
    bool feed(const std::uint8_t* data, std::size_t size, std::vector<Event>& out,
              std::string& error);
    void reset();

  private:
    bool finishFrame(std::vector<Event>& out, std::string& error);
    bool takePacket(std::size_t offset, std::vector<Event>& out, std::string& error);

    bool inFrame_ = false;
    bool escaped_ = false;
    bool inMessage_ = false;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> message_;
};

}  // namespace ember
