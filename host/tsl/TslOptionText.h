#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tsl {

// The pieces of text that a display target ("udp:HOST:PORT,NAME=VALUE…")
// and a tally input ("udp:PORT,NAME=VALUE…") read alike. Pure functions;
// any thread.
struct TslOptionText {
    // A whole number of at most `maxDigits` digits and nothing else.
    static bool parseNumber(std::string_view text, std::size_t maxDigits, unsigned long& value);

    // Splits one "NAME=VALUE" option into `name` and `value` (views into
    // `option`); the reason it is wrong, or "". `seen` collects the names
    // given so far, so that one given twice is refused.
    static std::string split(std::string_view option, std::vector<std::string_view>& seen,
                             std::string_view& name, std::string_view& value);

    // Reads "FIRST-LAST" or "SOURCE"; false unless 1 <= FIRST <= LAST <= count.
    static bool parseSources(std::string_view text, int count, int& first, int& last);
};

}  // namespace tsl
