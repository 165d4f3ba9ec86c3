#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace panelhost {

// A name set as CSV: a header line "source,name", then one line per source
// ("37,Camera 5"). Fields are quoted as RFC 4180 says when they hold a
// comma, a quote or a line end.
class NameSetCsv {
  public:
    // Longest name an import accepts, the command's and the API's alike:
    // what a UMD shows.
    static constexpr std::size_t kLongestName = 16;

    struct Row {
        int line = 0;
        int source = 0;
        std::string name;
    };

    // A line that cannot be taken, and why.
    struct Wrong {
        int line = 0;
        std::string text;
        std::string reason;
    };

    // What reading a file found: every valid row, every wrong line, and one
    // report line per line of the file. `valid` is false when any line is
    // wrong; then nothing must be written.
    struct Report {
        bool valid = true;
        std::vector<Row> rows;
        std::vector<Wrong> wrong;
        std::vector<std::string> lines;
    };

    // `names[i]` is the name of source i + 1.
    static std::string write(const std::vector<std::string>& names);

    // Reads rows whose source lies in 1..`sources` and whose name is UTF-8
    // text without control characters of at most `longestName` bytes (the
    // devices store and count bytes, so a name with accents holds fewer
    // letters), each source once.
    // A first line "source,name" is the header, also after the byte order
    // mark spreadsheets write; empty lines are skipped.
    static Report read(std::istream& in, int sources, std::size_t longestName);
};

}  // namespace panelhost
