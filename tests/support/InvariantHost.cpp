#include "InvariantHost.h"

#include <cstring>
#include <optional>

#include "CommandLine.h"
#include "tovi_debug_output.h"

namespace {

using panelhost::CommandLine;
using panelhost::CommandWord;

// Entries of a names table, and the titles' database with its entries.
constexpr int kLastEntry = 128;
constexpr int kTitlesDatabase = 9;
constexpr int kLastTitle = 8;

char gTruth;

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
    if (!outstanding_.empty()) {
        violation("an answer was still out when the next line was sent", line);
        outstanding_.clear();
    }
    nullHandBackAllowed_ = false;
    if (ended_) {
        violation("a line was sent after AS", line);
    }
    std::string error;
    const std::optional<CommandLine> parsed = CommandLine::parse(line, error);
    if (!parsed) {
        violation("a line the host cannot read (" + error + ")", line);
        return nullptr;
    }
    const std::vector<std::string>& texts = parsed->texts;
    const std::vector<int>& numbers = parsed->numbers;
    switch (parsed->word) {
        case CommandWord::AS:
            ended_ = true;
            return nullptr;
        case CommandWord::PS:
            shownPanel_ = texts[0];
            return &gTruth;
        case CommandWord::PR:
            if (shownPanel_ == texts[0]) {
                shownPanel_.clear();
            }
            return &gTruth;
        case CommandWord::PI:
            return &gTruth;
        case CommandWord::CD:
        case CommandWord::CE:
            setEnabled(texts[0], texts[1], parsed->word == CommandWord::CE);
            checkPlain(line, texts);
            return nullptr;
        case CommandWord::CH:
        case CommandWord::CS:
            checkPlain(line, texts);
            return nullptr;
        case CommandWord::SD:
            return answerDevice(texts[0]);
        case CommandWord::RN:
            return answerName(numbers[1], numbers[2]);
        case CommandWord::TG:
            checkPlain(line, texts);
            return answerProperty(texts[0], texts[1], texts[2]);
        case CommandWord::TP:
            checkPlain(line, {texts[1], texts[2]});
            applyPut(texts[1], texts[2], texts[0]);
            return nullptr;
        case CommandWord::RM:
            checkWriteName(line, numbers[0], numbers[1], numbers[2], texts[0]);
            return nullptr;
        default:
            return nullptr;
    }
}

void InvariantHost::checkPlain(const std::string& line, const std::vector<std::string>& fields) {
    for (const std::string& field : fields) {
        if (!plainField(field)) {
            violation("a control command's panel or control field is split", line);
            return;
        }
    }
}

void InvariantHost::setEnabled(const std::string& panel, const std::string& control, bool enabled) {
    const std::string key = panel + "|" + control;
    if (!enabled) {
        disabled_.insert(key);
        return;
    }
    disabled_.erase(key);
    if (key == "2|KB_1") {
        keyboardWasEmpty_ = property("2", "KB_1", "text").empty();
    }
}

void* InvariantHost::answerDevice(const std::string& device) {
    const std::map<std::string, int> numbers{{"StC SDI Router", kRouter},
                                             {"CTA Tally Infodriver", kTally},
                                             {"StC_UMD_Names_DriverID", kNames}};
    const auto found = numbers.find(device);
    return found == numbers.end() ? nullptr : answerText(std::to_string(found->second));
}

void* InvariantHost::answerName(int database, int index) {
    const auto found = names_.find({database, index});
    if (found == names_.end()) {
        nullHandBackAllowed_ = true;
        return nullptr;
    }
    return answerText(found->second);
}

void* InvariantHost::answerProperty(const std::string& panel, const std::string& control,
                                    const std::string& name) {
    if (readFault_ == ReadFault::kNullAnswer) {
        return nullptr;
    }
    if (readFault_ == ReadFault::kOtherProperty) {
        return answerText("index=0");
    }
    return answerText(name + "=" + property(panel, control, name));
}

void InvariantHost::applyPut(const std::string& panel, const std::string& control,
                             const std::string& assignment) {
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

void InvariantHost::checkWriteName(const std::string& line, int device, int database, int index,
                                   const std::string& name) {
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
