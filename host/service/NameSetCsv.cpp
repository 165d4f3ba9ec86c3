#include "NameSetCsv.h"

#include <charconv>
#include <set>

namespace panelhost {
namespace {

constexpr const char* kHeader = "source,name";

std::string field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quotedText = "\"";
    for (const char c : text) {
        quotedText += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quotedText + "\"";
}

// Splits one CSV line into fields; false when a quoted field is not closed
// or text follows a closing quote.
bool split(const std::string& line, std::vector<std::string>& fields) {
    fields.assign(1, "");
    bool quoted = false;
    bool closed = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
                closed = true;
            } else {
                fields.back() += c;
            }
        } else if (c == ',') {
            fields.emplace_back();
            closed = false;
        } else if (closed) {
            return false;
        } else if (c == '"' && fields.back().empty()) {
            quoted = true;
        } else {
            fields.back() += c;
        }
    }
    return !quoted;
}

}  // namespace

std::string NameSetCsv::write(const std::vector<std::string>& names) {
    std::string text = std::string(kHeader) + "\n";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += std::to_string(i + 1) + "," + field(names[i]) + "\n";
    }
    return text;
}

NameSetCsv::Report NameSetCsv::read(std::istream& in, int sources, std::size_t longestName) {
    Report report;
    std::set<int> seen;
    std::string line;
    std::vector<std::string> fields;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.empty() || (number == 1 && line == kHeader)) {
            continue;
        }
        auto refuse = [&](const std::string& why) {
            report.valid = false;
            report.lines.push_back(where + why);
        };
        if (!split(line, fields) || fields.size() != 2) {
            refuse("not of the form source,name");
            continue;
        }
        int source = 0;
        const std::string& text = fields[0];
        const auto parsed = std::from_chars(text.data(), text.data() + text.size(), source);
        if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() ||
            source < 1 || source > sources) {
            refuse("source \"" + text + "\" is not a number from 1 to " + std::to_string(sources));
            continue;
        }
        if (fields[1].size() > longestName) {
            refuse("name \"" + fields[1] + "\" is longer than " + std::to_string(longestName) +
                   " characters");
            continue;
        }
        if (!seen.insert(source).second) {
            refuse("source " + std::to_string(source) + " appears a second time");
            continue;
        }
        report.rows.push_back(Row{number, source, fields[1]});
        report.lines.push_back(where + "source " + std::to_string(source) + " \"" + fields[1] +
                               "\"");
    }
    return report;
}

}  // namespace panelhost
