#include "LineDiff.h"

#include <algorithm>
#include <sstream>

namespace {
// Unchanged lines shown before and after the differing stretch.
constexpr std::size_t kContextLines = 3;
// Differing lines shown per side before the rest is summarised.
constexpr std::size_t kShownDifferences = 25;

void showStretch(std::ostringstream& out, const Lines& lines, std::size_t from, std::size_t to,
                 const char* mark) {
    const std::size_t shown = std::min(to, from + kShownDifferences);
    for (std::size_t i = from; i < shown; ++i) {
        out << "  " << mark << ' ' << i + 1 << "  " << lines[i] << '\n';
    }
    if (shown < to) {
        out << "  " << mark << " ... " << to - shown << " more\n";
    }
}
}  // namespace

Lines concat(std::initializer_list<Lines> groups) {
    Lines joined;
    for (const Lines& group : groups) {
        joined.insert(joined.end(), group.begin(), group.end());
    }
    return joined;
}

::testing::AssertionResult sameLines(const Lines& actual, const Lines& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    const std::size_t shorter = std::min(actual.size(), expected.size());
    std::size_t prefix = 0;
    while (prefix < shorter && actual[prefix] == expected[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           actual[actual.size() - 1 - suffix] == expected[expected.size() - 1 - suffix]) {
        ++suffix;
    }

    std::ostringstream out;
    out << "lines differ from line " << prefix + 1 << " (expected " << expected.size()
        << " lines, got " << actual.size() << "):\n";
    for (std::size_t i = prefix > kContextLines ? prefix - kContextLines : 0; i < prefix; ++i) {
        out << "    " << i + 1 << "  " << expected[i] << '\n';
    }
    showStretch(out, expected, prefix, expected.size() - suffix, "-");
    showStretch(out, actual, prefix, actual.size() - suffix, "+");
    const std::size_t after = expected.size() - suffix;
    for (std::size_t i = after; i < std::min(expected.size(), after + kContextLines); ++i) {
        out << "    " << i + 1 << "  " << expected[i] << '\n';
    }
    return ::testing::AssertionFailure() << out.str();
}
