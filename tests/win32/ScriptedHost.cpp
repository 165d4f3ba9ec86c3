#include "ScriptedHost.h"

#include <cstring>

namespace {
// Any non-null address is the truth of a panel command.
char gTruth;

// Every command word has two letters and a blank after it when fields follow.
bool hasCommandWord(const std::string& line, const char* word) {
    return line.size() > 2 && line.compare(0, 2, word) == 0 && line[2] == ' ';
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}
}  // namespace

void* ScriptedHost::deliver(void* data, int type) {
    switch (type) {
        case tovi_type::kCommand:
            return command(static_cast<const char*>(data));
        case tovi_type::kRelease:
            release(data);
            return nullptr;
        default:
            faults_.push_back("the plugin called the host with type " + std::to_string(type));
            return nullptr;
    }
}

void ScriptedHost::knowDevice(const std::string& instanceName, int number) {
    answers_["SD " + quoted(instanceName)] = std::to_string(number);
}

void ScriptedHost::holdName(int device, int database, int index, const std::string& name) {
    answers_["RN " + std::to_string(device) + " " + std::to_string(database) + " " +
             std::to_string(index)] = name;
}

void ScriptedHost::holdProperty(const std::string& panel, const std::string& control,
                                const std::string& property, const std::string& value) {
    answers_["TG " + quoted(panel) + " " + quoted(control) + " " + quoted(property)] =
        property + "=" + value;
}

std::vector<std::string> ScriptedHost::takeLines() {
    std::vector<std::string> taken;
    taken.swap(lines_);
    return taken;
}

std::vector<std::string> ScriptedHost::faults() const {
    std::vector<std::string> all = faults_;
    if (outstanding_) {
        all.push_back("the answer to \"" + outstandingLine_ + "\" was never handed back");
    }
    if (nullHandBackDue_) {
        all.push_back("the null answer to \"" + outstandingLine_ + "\" was never handed back");
    }
    return all;
}

void* ScriptedHost::command(const char* line) {
    if (line == nullptr) {
        faults_.push_back("the plugin sent a null command line");
        return nullptr;
    }
    const std::string text(line);
    if (outstanding_) {
        faults_.push_back("\"" + text + "\" was sent while the answer to \"" + outstandingLine_ +
                          "\" was still out");
        outstanding_.reset();
    }
    if (nullHandBackDue_) {
        faults_.push_back("\"" + text + "\" was sent before the null answer to \"" +
                          outstandingLine_ + "\" was handed back");
        nullHandBackDue_ = false;
    }
    lines_.push_back(text);

    if (hasCommandWord(text, "PI") || hasCommandWord(text, "PS") || hasCommandWord(text, "PR")) {
        return &gTruth;
    }
    if (hasCommandWord(text, "SD") || hasCommandWord(text, "TG")) {
        return answer(text);
    }
    if (hasCommandWord(text, "RN")) {
        void* name = answer(text);
        if (name == nullptr) {
            nullHandBackDue_ = true;
            outstandingLine_ = text;
        }
        return name;
    }
    return nullptr;
}

void* ScriptedHost::answer(const std::string& line) {
    const auto found = answers_.find(line);
    if (found == answers_.end()) {
        return nullptr;
    }
    const std::string& text = found->second;
    outstanding_ = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(outstanding_.get(), text.c_str(), text.size() + 1);
    outstandingLine_ = line;
    return outstanding_.get();
}

void ScriptedHost::release(const void* answer) {
    if (answer != nullptr && answer == outstanding_.get()) {
        outstanding_.reset();
        ++handBacks_;
        return;
    }
    if (answer == nullptr && nullHandBackDue_) {
        nullHandBackDue_ = false;
        ++handBacks_;
        return;
    }
    faults_.push_back(answer == nullptr ? "a null pointer was handed back unasked"
                                        : "a pointer the host never answered was handed back");
}
