#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BerReader.h"

namespace ember {

// Builds a BER buffer with definite lengths in their shortest form, which
// every provider accepts. Constructed elements are opened with begin() and
// closed with end() in nesting order. Single-threaded.
class BerWriter {
  public:
    void begin(BerTag tag);
    void end();

    void integer(std::int64_t value);
    void boolean(bool value);
    void utf8(const std::string& text);
    void relativeOid(const std::vector<std::uint32_t>& path);

    // The encoded bytes; every begin() must have been ended.
    std::vector<std::uint8_t> take();

  private:
    void tag(BerTag tag);
    void primitive(std::uint32_t number, const std::vector<std::uint8_t>& contents);

    std::vector<std::uint8_t> out_;
    std::vector<std::size_t> open_;
};

}  // namespace ember
