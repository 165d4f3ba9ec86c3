#include "RecordingHost.h"

#include <cstring>

#include "tovi_debug_output.h"

namespace {
// Any non-null address will do as the truth of a panel command.
char gTruth;

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}
}  // namespace

RecordingHost::RecordingHost() { tovi_set_debug_sink(&RecordingHost::collectDebug, this); }

RecordingHost::~RecordingHost() { tovi_set_debug_sink(nullptr, nullptr); }

void RecordingHost::collectDebug(const char* text, void* context) {
    static_cast<RecordingHost*>(context)->transcript_.push_back(std::string("debug: ") + text);
}

void* RecordingHost::deliver(void* data, int type) {
    if (type == tovi_type::kCommand) {
        return command(static_cast<const char*>(data));
    }
    if (type == tovi_type::kRelease) {
        release(data);
        return nullptr;
    }
    errors_.push_back("the script called the host with type " + std::to_string(type));
    return nullptr;
}

void* RecordingHost::command(const char* line) {
    if (line == nullptr) {
        errors_.push_back("the script sent a null command line");
        return nullptr;
    }
    for (const auto& [answer, answered] : outstanding_) {
        errors_.push_back("the answer to \"" + answered + "\" was still out when \"" +
                          std::string(line) + "\" was sent");
    }
    outstanding_.clear();
    nullHandBackAllowed_ = false;

    const std::string text(line);
    commands_.push_back(text);
    transcript_.push_back(text);
    if (startsWith(text, "PI ") || startsWith(text, "PS ") || startsWith(text, "PR ")) {
        return panelCommandsSucceed_ ? &gTruth : nullptr;
    }
    if (startsWith(text, "SD ") || startsWith(text, "TG ") || startsWith(text, "XI ")) {
        return textAnswer(text);
    }
    if (startsWith(text, "RN ")) {
        void* answer = textAnswer(text);
        nullHandBackAllowed_ = answer == nullptr;
        return answer;
    }
    return nullptr;
}

void* RecordingHost::textAnswer(const std::string& line) {
    const auto found = answers_.find(line);
    if (found == answers_.end()) {
        return nullptr;
    }
    // A fresh block for every answer, so a doubled hand-back is detectable.
    auto block = std::make_unique<char[]>(found->second.size() + 1);
    std::memcpy(block.get(), found->second.c_str(), found->second.size() + 1);
    void* answer = block.get();
    storage_.push_back(std::move(block));
    outstanding_[answer] = line;
    return answer;
}

void RecordingHost::release(void* answer) {
    ++handBacks_;
    if (answer == nullptr) {
        ++nullHandBacks_;
        if (!nullHandBackAllowed_) {
            errors_.push_back("null handed back where no null answer to \"RN\" preceded it");
        }
        nullHandBackAllowed_ = false;
        return;
    }
    if (outstanding_.erase(answer) == 0) {
        errors_.push_back("a pointer was handed back that is not an outstanding answer");
    }
}

void RecordingHost::answerDevice(const std::string& instanceName, const std::string& answer) {
    answers_["SD '" + instanceName + "'"] = answer;
}

void RecordingHost::answerName(int device, int database, int index, const std::string& name) {
    answers_["RN " + std::to_string(device) + " " + std::to_string(database) + " " +
             std::to_string(index)] = name;
}

void RecordingHost::answerProperty(const std::string& panel, const std::string& control,
                                   const std::string& property, const std::string& value) {
    answers_["TG '" + panel + "' '" + control + "' '" + property + "'"] = property + "=" + value;
}

void RecordingHost::answerLine(const std::string& line, const std::string& answer) {
    answers_[line] = answer;
}

void RecordingHost::forgetAnswer(const std::string& line) { answers_.erase(line); }

std::vector<std::string> RecordingHost::debugLines() const {
    std::vector<std::string> lines;
    for (const std::string& entry : transcript_) {
        if (startsWith(entry, "debug: ")) {
            lines.push_back(entry.substr(std::strlen("debug: ")));
        }
    }
    return lines;
}

void RecordingHost::clear() {
    commands_.clear();
    transcript_.clear();
}

std::vector<std::string> RecordingHost::protocolErrors() const {
    std::vector<std::string> errors = errors_;
    for (const auto& [answer, answered] : outstanding_) {
        errors.push_back("the answer to \"" + answered + "\" was never handed back");
    }
    return errors;
}
