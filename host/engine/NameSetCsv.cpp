#include "NameSetCsv.h"

#include <charconv>
#include <set>
#include <string_view>

#include "ControlCharacters.h"

namespace panelhost {
namespace {

constexpr const char* kHeader = "source,name";
// What spreadsheets put before the first line of a UTF-8 CSV file.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates):
// a file saved in another encoding would otherwise put mangled names on
// the displays.
bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned int low = 0x80;
        unsigned int high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
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
        if (number == 1 && line.rfind(kByteOrderMark, 0) == 0) {
            line.erase(0, kByteOrderMark.size());
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.empty() || (number == 1 && line == kHeader)) {
            continue;
        }
        auto refuse = [&](const std::string& why) {
            report.valid = false;
            report.wrong.push_back(Wrong{number, line, why});
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
            refuse("source \"" + ControlCharacters::escaped(text) +
                   "\" is not a number from 1 to " + std::to_string(sources));
            continue;
        }
        if (!isUtf8(fields[1])) {
            refuse("name is not UTF-8 text (save the file as UTF-8)");
            continue;
        }
        if (const auto control = ControlCharacters::first(fields[1])) {
            refuse(ControlCharacters::refusal("the name of source " + std::to_string(source),
                                              *control));
            continue;
        }
        if (fields[1].size() > longestName) {
            refuse("name \"" + fields[1] + "\" is longer than " + std::to_string(longestName) +
                   " characters (" + std::to_string(fields[1].size()) + " bytes as stored)");
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
