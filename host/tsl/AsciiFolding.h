#pragma once

#include <string>
#include <string_view>

namespace tsl {

// The nearest printable ASCII (0x20 to 0x7E) form of a UTF-8 text, for
// displays that show nothing else. Stateless; any thread may call it.
//
// Letters with accents or other marks lose them where a plain letter exists
// (é -> e, Ä -> A, ł -> l, ș -> s, ạ -> a), and a combining mark after its
// letter is dropped. A few letters become two: ß -> ss, Æ -> AE, æ -> ae,
// Œ -> OE, œ -> oe, Þ -> TH, þ -> th, Ĳ -> IJ, ĳ -> ij; "ss" keeps a German
// name readable where one '?' would lose the letter. Typographic quotes and
// dashes become ' " and -, the ellipsis "...", a no-break space a space,
// and a soft hyphen (invisible) nothing. Every other character (other
// scripts, symbols, control characters, invalid UTF-8) becomes one '?'.
class AsciiFolding {
  public:
    // Shown for a character that has no ASCII form.
    static constexpr char kUnknown = '?';

    static std::string fold(std::string_view utf8);

    // True when every byte is printable ASCII, so fold() keeps the text as
    // it is.
    static bool isPrintableAscii(std::string_view text);
};

}  // namespace tsl
