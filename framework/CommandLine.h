#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The host's reading of the command lines a script sends. It lives with the
// framework, not in host/, so that the test hosts built for Windows read
// lines with the same grammar as the host. Pure functions: any thread.
namespace panelhost {

// The twenty command words a script may send.
enum class CommandWord {
    AS,
    CD,
    CE,
    CH,
    CS,
    ET,
    IP,
    IR,
    IU,
    IW,
    PI,
    PR,
    PS,
    RM,
    RN,
    RR,
    SD,
    TG,
    TP,
    XI
};

// One command line taken apart. Text fields are apostrophe-delimited and
// never escaped, so a field may itself hold apostrophes and blanks: fields
// that can hold anything are found by working inwards from both ends of the
// line, and only the fields that never hold apostrophes (panel ids, control
// and property names) act as anchors.
struct CommandLine {
    CommandWord word = CommandWord::AS;
    // Text fields in the order of the line (without their apostrophes).
    std::vector<std::string> texts;
    // Numeric fields in the order of the line, flags included.
    std::vector<int> numbers;
    // "IR" and "RR" end in 'ADD'.
    bool add = false;

    // Parses `line`; on failure returns nothing and puts the reason in `error`.
    static std::optional<CommandLine> parse(std::string_view line, std::string& error);
};

// The two letters of a command word.
const char* commandWordText(CommandWord word);

}  // namespace panelhost
