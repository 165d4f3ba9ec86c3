#include "InvariantHost.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tovi_debug_output.h"

namespace {

const char* const kCommandWords[] = {"AS", "CD", "CE", "CH", "CS", "ET", "IP", "IR", "IU", "IW",
                                     "PI", "PR", "PS", "RM", "RN", "RR", "SD", "TG", "TP", "XI"};
// Entries of a names table, and the titles' database with its entries.
constexpr int kLastEntry = 128;
constexpr int kTitlesDatabase = 9;
constexpr int kLastTitle = 8;

char gTruth;

// The fields between apostrophes of `'a' 'b' 'c'` when none holds one.
std::vector<std::string> quotedFields(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    while ((at = text.find('\'', at)) != std::string::npos) {
        const std::size_t end = text.find('\'', at + 1);
        if (end == std::string::npos) {
            break;
        }
        fields.push_back(text.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return fields;
}

bool plainField(const std::string& field) {
    return field.find('\'') == std::string::npos && field.find(' ') == std::string::npos;
}

void discardDebug(const char*, void*) {}

}  // namespace

InvariantHost::InvariantHost() : disabled_{"1|Confirm"} {
    tovi_set_debug_sink(&discardDebug, nullptr);
}

bool InvariantHost::isEnabled(const std::string& panel, const std::string& control) const {
    return disabled_.count(panel + "|" + control) == 0;
}

InvariantHost::~InvariantHost() {
    tovi_set_debug_sink(nullptr, nullptr);
}

void InvariantHost::violation(const std::string& what, const std::string& line) {
    violations_.push_back(what + ": \"" + line + "\"");
}

void* InvariantHost::deliver(void* data, int type) {
    if (type == tovi_type::kCommand) {
        return data == nullptr ? nullptr : command(static_cast<const char*>(data));
    }
    if (type == tovi_type::kRelease) {
        if (data == nullptr) {
            if (!nullHandBackAllowed_) {
                violation("null handed back without a null answer to RN", "");
            }
            nullHandBackAllowed_ = false;
        } else if (outstanding_.erase(data) == 0) {
            violation("a pointer was handed back that is not an outstanding answer", "");
        }
        return nullptr;
    }
    violation("the panel called the host with type " + std::to_string(type), "");
    return nullptr;
}

void* InvariantHost::command(const std::string& line) {
    ++lines_;
    if (!outstanding_.empty()) {
        violation("an answer was still out when the next line was sent", line);
        outstanding_.clear();
    }
    nullHandBackAllowed_ = false;
    checkLine(line);
    const std::string word = line.substr(0, 2);
    if (word == "AS") {
        ended_ = true;
    } else if (word == "PI" || word == "PS" || word == "PR") {
        const std::vector<std::string> fields = quotedFields(line);
        const std::string panel = fields.empty() ? "" : fields[0];
        if (word == "PS") {
            shownPanel_ = panel;
        } else if (word == "PR" && shownPanel_ == panel) {
            shownPanel_.clear();
        }
        return &gTruth;
    } else if (word == "CD" || word == "CE") {
        const std::vector<std::string> fields = quotedFields(line);
        if (fields.size() == 2) {
            const std::string key = fields[0] + "|" + fields[1];
            if (word == "CD") {
                disabled_.insert(key);
            } else {
                disabled_.erase(key);
                if (key == "2|KB_1") {
                    keyboardWasEmpty_ = property("2", "KB_1", "text").empty();
                }
            }
        }
    } else if (word == "SD") {
        const std::vector<std::string> fields = quotedFields(line);
        const std::string device = fields.empty() ? "" : fields[0];
        if (device == "StC SDI Router")
            return answerText(std::to_string(kRouter));
        if (device == "CTA Tally Infodriver")
            return answerText(std::to_string(kTally));
        if (device == "StC_UMD_Names_DriverID")
            return answerText(std::to_string(kNames));
        return nullptr;
    } else if (word == "RN") {
        char* at = nullptr;
        std::strtol(line.c_str() + 3, &at, 10);
        const int database = static_cast<int>(std::strtol(at, &at, 10));
        const int index = static_cast<int>(std::strtol(at, &at, 10));
        const auto found = names_.find({database, index});
        if (found == names_.end()) {
            nullHandBackAllowed_ = true;
            return nullptr;
        }
        return answerText(found->second);
    } else if (word == "TG") {
        const std::vector<std::string> fields = quotedFields(line);
        if (fields.size() != 3 || readFault_ == ReadFault::kNullAnswer) {
            return nullptr;
        }
        if (readFault_ == ReadFault::kOtherProperty) {
            return answerText("index=0");
        }
        return answerText(fields[2] + "=" + property(fields[0], fields[1], fields[2]));
    } else if (word == "TP") {
        applyPut(line);
    } else if (word == "RM") {
        checkWriteName(line);
    }
    return nullptr;
}

void InvariantHost::checkLine(const std::string& line) {
    if (ended_) {
        violation("a line was sent after AS", line);
    }
    bool known = false;
    for (const char* word : kCommandWords) {
        known = known || (line.compare(0, 2, word) == 0 && (line.size() == 2 || line[2] == ' '));
    }
    if (!known) {
        violation("a line starts with no command word", line);
        return;
    }
    const std::string word = line.substr(0, 2);
    if (word == "CD" || word == "CE" || word == "CH" || word == "CS" || word == "TG") {
        const std::vector<std::string> fields = quotedFields(line);
        const std::size_t expected = word == "TG" ? 3 : 2;
        bool plain = fields.size() == expected;
        for (const std::string& field : fields) {
            plain = plain && plainField(field);
        }
        if (!plain) {
            violation("a control command's fields are split", line);
        }
    }
    if (word == "TP") {
        // The value may hold anything; panel and control may not.
        const std::size_t controlStart = line.rfind(" '");
        const std::size_t panelStart = line.rfind(" '", controlStart - 1);
        if (controlStart == std::string::npos || panelStart == std::string::npos ||
            line.back() != '\'' ||
            !plainField(line.substr(controlStart + 2, line.size() - controlStart - 3)) ||
            !plainField(line.substr(panelStart + 2, controlStart - panelStart - 3))) {
            violation("a TP line's panel or control field is split", line);
        }
    }
}

void InvariantHost::applyPut(const std::string& line) {
    const std::size_t controlStart = line.rfind(" '");
    const std::size_t panelStart = line.rfind(" '", controlStart - 1);
    const std::string control = line.substr(controlStart + 2, line.size() - controlStart - 3);
    const std::string panel = line.substr(panelStart + 2, controlStart - panelStart - 3);
    const std::string assignment = line.substr(4, panelStart - 5);
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        return;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    properties_[panel + "|" + control + "|" + name] = value;
    if (panel == "2" && control == "KB_1" && name == "text" && value.empty() &&
        isEnabled("2", "KB_1")) {
        keyboardWasEmpty_ = true;
    }
}

void InvariantHost::checkWriteName(const std::string& line) {
    std::istringstream numbers(line.substr(3));
    int device = 0, database = 0, index = 0;
    numbers >> device >> database >> index;
    const std::size_t open = line.find('\'');
    const std::size_t close = line.rfind("' ");
    if (open == std::string::npos || close == std::string::npos || close < open) {
        violation("an RM line has no name field", line);
        return;
    }
    const std::string name = line.substr(open + 1, close - open - 1);
    if (device != kNames) {
        violation("RM to another device than the names infodriver", line);
    }
    if (database < 1 || database > kTitlesDatabase) {
        violation("RM outside databases 1 to 9", line);
    }
    if (database == kTitlesDatabase && (index < 1 || index > kLastTitle)) {
        violation("RM to the titles outside entries 1 to 8", line);
    }
    if (index < 0 || index > kLastEntry) {
        violation("RM outside entries 0 to 128", line);
    }
    const std::pair<int, int> key{database, index};
    const auto stored = names_.find(key);
    if (name.empty() && !keyboardWasEmpty_ && stored != names_.end() && !stored->second.empty()) {
        violation("RM blanks a stored name the keyboard never held empty", line);
    }
    names_[key] = name;
}

void* InvariantHost::answerText(const std::string& text) {
    auto block = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(block.get(), text.c_str(), text.size() + 1);
    void* answer = block.get();
    storage_.push_back(std::move(block));
    outstanding_.insert(answer);
    return answer;
}

std::string InvariantHost::property(const std::string& panel, const std::string& control,
                                    const std::string& name) const {
    const auto found = properties_.find(panel + "|" + control + "|" + name);
    return found == properties_.end() ? std::string() : found->second;
}

void InvariantHost::typeOnKeyboard(const std::string& text) {
    properties_["2|KB_1|text"] = text;
    keyboardWasEmpty_ = keyboardWasEmpty_ || text.empty();
}

void InvariantHost::setName(int database, int index, const std::string& name) {
    names_[{database, index}] = name;
}

void InvariantHost::finish() {
    if (!outstanding_.empty()) {
        violation("an answer was never handed back", "");
    }
}
