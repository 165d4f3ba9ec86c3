#include "CommandLine.h"

#include <array>
#include <charconv>
#include <utility>

namespace panelhost {
namespace {

constexpr std::array<std::pair<const char*, CommandWord>, 20> kWords{{
    {"AS", CommandWord::AS}, {"CD", CommandWord::CD}, {"CE", CommandWord::CE},
    {"CH", CommandWord::CH}, {"CS", CommandWord::CS}, {"ET", CommandWord::ET},
    {"IP", CommandWord::IP}, {"IR", CommandWord::IR}, {"IU", CommandWord::IU},
    {"IW", CommandWord::IW}, {"PI", CommandWord::PI}, {"PR", CommandWord::PR},
    {"PS", CommandWord::PS}, {"RM", CommandWord::RM}, {"RN", CommandWord::RN},
    {"RR", CommandWord::RR}, {"SD", CommandWord::SD}, {"TG", CommandWord::TG},
    {"TP", CommandWord::TP}, {"XI", CommandWord::XI},
}};

// The separator between two text fields: closing apostrophe, one blank,
// opening apostrophe.
constexpr std::string_view kFieldGap = "' '";
constexpr std::string_view kAddOption = "'ADD'";

bool parseNumber(std::string_view text, int& out) {
    if (text.empty() || text.front() == '+') {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, out);
    return result.ec == std::errc() && result.ptr == end;
}

// The line after the command word, as a cursor that fields are cut from at
// either end.
class Fields {
  public:
    explicit Fields(std::string_view rest) : rest_(rest) {}

    bool empty() const { return rest_.empty(); }

    bool numberFromFront(int& out) {
        const std::size_t blank = rest_.find(' ');
        const std::string_view field = rest_.substr(0, blank);
        if (!parseNumber(field, out)) {
            return false;
        }
        rest_ = blank == std::string_view::npos ? std::string_view() : rest_.substr(blank + 1);
        return true;
    }

    bool numberFromBack(int& out) {
        const std::size_t blank = rest_.rfind(' ');
        if (blank == std::string_view::npos || !parseNumber(rest_.substr(blank + 1), out)) {
            return false;
        }
        rest_ = rest_.substr(0, blank);
        return true;
    }

    // The whole rest is one text field.
    bool wholeText(std::string& out) {
        if (rest_.size() < 2 || rest_.front() != '\'' || rest_.back() != '\'') {
            return false;
        }
        out.assign(rest_.substr(1, rest_.size() - 2));
        rest_ = std::string_view();
        return true;
    }

    // The first text field ends at the first gap: for fields that never hold
    // an apostrophe.
    bool anchorTextFromFront(std::string& out) {
        if (rest_.empty() || rest_.front() != '\'') {
            return false;
        }
        const std::size_t gap = rest_.find(kFieldGap, 1);
        if (gap == std::string_view::npos) {
            return false;
        }
        out.assign(rest_.substr(1, gap - 1));
        rest_ = rest_.substr(gap + 2);
        return true;
    }

    // The last text field starts after the last gap: for fields that never
    // hold an apostrophe.
    bool anchorTextFromBack(std::string& out) {
        // The last field needs its own opening apostrophe after the gap.
        constexpr std::size_t kShortest = 4;
        if (rest_.size() < kShortest || rest_.back() != '\'') {
            return false;
        }
        const std::size_t gap = rest_.rfind(kFieldGap, rest_.size() - kShortest);
        if (gap == std::string_view::npos) {
            return false;
        }
        out.assign(rest_.substr(gap + 3, rest_.size() - gap - 4));
        rest_ = rest_.substr(0, gap + 1);
        return true;
    }

    bool suffix(std::string_view tail) {
        if (rest_.size() < tail.size() + 1 || rest_.substr(rest_.size() - tail.size()) != tail ||
            rest_[rest_.size() - tail.size() - 1] != ' ') {
            return false;
        }
        rest_ = rest_.substr(0, rest_.size() - tail.size() - 1);
        return true;
    }

  private:
    std::string_view rest_;
};

bool parseNumbers(Fields& fields, CommandLine& command, int count) {
    for (int i = 0; i < count; ++i) {
        int value = 0;
        if (!fields.numberFromFront(value)) {
            return false;
        }
        command.numbers.push_back(value);
    }
    return fields.empty();
}

bool parseFlag(Fields& fields, int& flag) {
    return fields.numberFromBack(flag) && (flag == 0 || flag == 1);
}

// Fills `command` from `fields` by the grammar of its word.
bool parseFields(Fields& fields, CommandLine& command) {
    std::string a;
    std::string b;
    std::string c;
    switch (command.word) {
        case CommandWord::AS:
            return fields.empty();
        case CommandWord::CD:
        case CommandWord::CE:
        case CommandWord::CH:
        case CommandWord::CS:
        case CommandWord::XI:
            if (!fields.anchorTextFromFront(a) || !fields.wholeText(b)) {
                return false;
            }
            command.texts = {a, b};
            return true;
        case CommandWord::ET: {
            int id = 0;
            if (!fields.numberFromFront(id)) {
                return false;
            }
            command.numbers.push_back(id);
            return fields.empty() || parseNumbers(fields, command, 1);
        }
        case CommandWord::IU:
            return parseNumbers(fields, command, 1);
        case CommandWord::IP:
        case CommandWord::RN:
            return parseNumbers(fields, command, 3);
        case CommandWord::IR:
        case CommandWord::RR:
            command.add = fields.suffix(kAddOption);
            return parseNumbers(fields, command, 3);
        case CommandWord::IW: {
            int device = 0;
            int index = 0;
            int flag = 0;
            if (!fields.numberFromFront(device) || !parseFlag(fields, flag) ||
                !fields.numberFromBack(index) || !fields.wholeText(a)) {
                return false;
            }
            command.numbers = {device, index, flag};
            command.texts = {a};
            return true;
        }
        case CommandWord::RM: {
            constexpr int kLeadingNumbers = 3;  // device, database, index
            for (int i = 0; i < kLeadingNumbers; ++i) {
                int value = 0;
                if (!fields.numberFromFront(value)) {
                    return false;
                }
                command.numbers.push_back(value);
            }
            int flag = 0;
            if (!parseFlag(fields, flag) || !fields.wholeText(a)) {
                return false;
            }
            command.numbers.push_back(flag);
            command.texts = {a};
            return true;
        }
        case CommandWord::PI:
        case CommandWord::PS: {
            if (!fields.anchorTextFromFront(a) || !fields.wholeText(b)) {
                return false;
            }
            const std::size_t gap = b.rfind(kFieldGap);
            if (gap == std::string::npos) {
                command.texts = {a, b};
            } else {
                command.texts = {a, b.substr(0, gap), b.substr(gap + kFieldGap.size())};
            }
            return true;
        }
        case CommandWord::PR:
        case CommandWord::SD:
            if (!fields.wholeText(a)) {
                return false;
            }
            command.texts = {a};
            return true;
        case CommandWord::TG:
            if (!fields.anchorTextFromFront(a) || !fields.anchorTextFromBack(c) ||
                !fields.wholeText(b)) {
                return false;
            }
            command.texts = {a, b, c};
            return true;
        case CommandWord::TP:
            if (!fields.anchorTextFromBack(c) || !fields.anchorTextFromBack(b) ||
                !fields.wholeText(a)) {
                return false;
            }
            command.texts = {a, b, c};
            return true;
    }
    return false;
}

}  // namespace

const char* commandWordText(CommandWord word) {
    for (const auto& [text, value] : kWords) {
        if (value == word) {
            return text;
        }
    }
    return "??";
}

std::optional<CommandLine> CommandLine::parse(std::string_view line, std::string& error) {
    constexpr std::size_t kWordLength = 2;
    CommandLine command;
    const std::string_view word = line.substr(0, kWordLength);
    bool known = false;
    for (const auto& [text, value] : kWords) {
        if (word == text) {
            command.word = value;
            known = true;
        }
    }
    if (!known) {
        error = "unknown command word";
        return std::nullopt;
    }
    std::string_view rest;
    if (line.size() > kWordLength) {
        if (line[kWordLength] != ' ') {
            error = "the command word must be followed by one blank";
            return std::nullopt;
        }
        rest = line.substr(kWordLength + 1);
    }
    Fields fields(rest);
    if (!parseFields(fields, command)) {
        error = std::string("fields do not match the form of ") + commandWordText(command.word);
        return std::nullopt;
    }
    return command;
}

}  // namespace panelhost
