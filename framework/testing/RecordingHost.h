#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tovi_client_callback.h"

// A real host for tests: records every command line a script sends, answers
// "SD", "RN", "TG" and "XI" from tables the test fills, answers "PI", "PS"
// and "PR" with a truth, and checks the hand-back protocol: every text
// answer must come back with type 5 exactly once, before the script sends
// its next command, and no other pointer may come back (null only after a
// null answer to "RN").
//
// While it lives it also collects the framework's debug output, so tests
// see debug lines in order with the commands. Only one may live at a time.
class RecordingHost : public tovi_client_callback {
public:
    RecordingHost();
    ~RecordingHost() override;

    void* deliver(void* data, int type) override;

    // Answer tables. A line without an answer gets null.
    void answerDevice(const std::string& instanceName, const std::string& answer);
    void answerName(int device, int database, int index, const std::string& name);
    // "TG" answers property=value for the control's property.
    void answerProperty(const std::string& panel, const std::string& control,
                        const std::string& property, const std::string& value);
    // Answers the exact line `line` with `answer` (for unusual answers).
    void answerLine(const std::string& line, const std::string& answer);
    void forgetAnswer(const std::string& line);
    // Whether "PI", "PS" and "PR" succeed (default true).
    void setPanelCommandsSucceed(bool succeed) { panelCommandsSucceed_ = succeed; }

    // Every command line, in order.
    const std::vector<std::string>& commands() const { return commands_; }
    // Commands and debug lines in order; debug lines are prefixed "debug: ".
    const std::vector<std::string>& transcript() const { return transcript_; }
    std::vector<std::string> debugLines() const;
    // Lines sent since the last clear().
    void clear();

    // Protocol faults seen so far, each as a sentence; empty when clean.
    // Also reports answers that are still out.
    std::vector<std::string> protocolErrors() const;
    int handBacks() const { return handBacks_; }
    int nullHandBacks() const { return nullHandBacks_; }

private:
    void* command(const char* line);
    void release(void* answer);
    void* textAnswer(const std::string& line);
    static void collectDebug(const char* text, void* context);

    std::map<std::string, std::string> answers_;
    std::map<const void*, std::string> outstanding_;  // answer -> line it answered
    std::vector<std::unique_ptr<char[]>> storage_;
    std::vector<std::string> commands_;
    std::vector<std::string> transcript_;
    std::vector<std::string> errors_;
    bool panelCommandsSucceed_ = true;
    bool nullHandBackAllowed_ = false;
    int handBacks_ = 0;
    int nullHandBacks_ = 0;
};
