#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace panelhost {

// The control characters (C0, U+0000 to U+001F, and DEL) in texts from
// outside. A line break in a name would make two lines of the console and
// the journal, the second posing as the host's own; a NUL or an escape
// sequence would reach the displays and the terminals. So every path that
// stores a name, title or slot refuses such a text by first() (the router's
// labels have them replaced by spaced()), and the console writes every
// text escaped(). Pure functions; any thread.
class ControlCharacters {
  public:
    // A control character of a text and where it stands: `position` counts
    // characters from 1 (a UTF-8 sequence, or a byte that is none, as one).
    struct Found {
        char character = 0;
        std::size_t position = 0;
    };

    // The first control character of `text`; nothing when it has none.
    static std::optional<Found> first(std::string_view text);

    // Why `what` ("the name of source 17") is refused: "the name of source
    // 17 holds a control character (\n) at character 6".
    static std::string refusal(const std::string& what, const Found& found);

    // `text` with each run of control characters replaced by one space, so
    // that the words a line break or a tab kept apart stay apart.
    static std::string spaced(std::string_view text);

    // `text` on one line that reads back unambiguously: each control
    // character as its escape (below), each backslash doubled; everything
    // else, bytes that are not UTF-8 included, as it is.
    static std::string escaped(std::string_view text);

    // The escape of one control character: \n, \r and \t by name, the
    // others as \x and two hexadecimal digits (\x00, \x1b, \x7f).
    static std::string escape(char character);

    static bool isControl(char character);
};

}  // namespace panelhost
