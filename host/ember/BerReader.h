#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ember {

// A BER tag: class, whether the value is constructed, and its number.
struct BerTag {
    enum class Class : std::uint8_t { Universal = 0, Application = 1, Context = 2, Private = 3 };
    Class tagClass = Class::Universal;
    bool constructed = false;
    std::uint32_t number = 0;

    bool is(Class c, std::uint32_t n) const { return tagClass == c && number == n; }
};

// One element: its tag and its contents, which point into the reader's
// buffer (for an indefinite length without the end-of-contents octets).
struct BerElement {
    BerTag tag;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Reads the elements of a BER buffer one after another, with strict bounds:
// every length is checked against what is left, tag numbers and lengths
// have a bounded number of octets, and nesting is limited to kMaxDepth.
// Malformed input yields false and a readable error, never an exception.
// The buffer must outlive the reader and the elements it returns.
class BerReader {
  public:
    // Deeper than any Glow tree a router describes in one message.
    static constexpr int kMaxDepth = 64;

    BerReader(const std::uint8_t* data, std::size_t size, int depth = 0)
        : data_(data), size_(size), depth_(depth) {}

    bool atEnd() const { return offset_ >= size_; }
    int depth() const { return depth_; }

    // Reads the next element; false at malformed input.
    bool next(BerElement& out, std::string& error);
    // A reader over a constructed element's contents, one level deeper;
    // false when the nesting is too deep or the element is primitive.
    bool enter(const BerElement& element, BerReader& out, std::string& error) const;
    // The single element inside an explicitly tagged one (as Glow wraps
    // every field), which must hold exactly that one element.
    bool unwrap(const BerElement& element, BerElement& out, std::string& error) const;

    // Universal types, checked against the expected tag.
    static bool readInteger(const BerElement& element, std::int64_t& out, std::string& error);
    static bool readBoolean(const BerElement& element, bool& out, std::string& error);
    static bool readReal(const BerElement& element, double& out, std::string& error);
    // UTF-8 text; invalid sequences become U+FFFD so that a bad byte from a
    // device shows as a visible mark instead of breaking the link.
    static bool readUtf8(const BerElement& element, std::string& out, std::string& error);
    static bool readRelativeOid(const BerElement& element, std::vector<std::uint32_t>& out,
                                std::string& error);

  private:
    bool readHeader(BerTag& tag, std::size_t& length, bool& indefinite, std::string& error);
    // Skips the elements of an indefinite-length value up to and including
    // its end-of-contents octets, `depth` levels below this reader.
    bool skipIndefinite(int depth, std::string& error);

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    int depth_;
};

}  // namespace ember
