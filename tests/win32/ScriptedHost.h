#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tovi_client_callback.h"

// Not RecordingHost: that one collects debug lines through a framework the DLL never uses.
// The production host's side of the DLL boundary, as the end-to-end test
// plays it: records every command line the plugin sends, answers "SD", "RN"
// and "TG" from its tables (null for a line it has no answer for) and "PI",
// "PS" and "PR" with a truth, and checks the hand-back protocol: a text
// answer must come back with type 5 exactly once before the next command,
// null may come back only right after a null answer to "RN", and nothing
// else may come back.
class ScriptedHost : public tovi_client_callback {
  public:
    void* deliver(void* data, int type) override;

    // "SD '<instanceName>'" is answered with the decimal `number`.
    void knowDevice(const std::string& instanceName, int number);
    // "RN <device> <database> <index>" is answered with `name`.
    void holdName(int device, int database, int index, const std::string& name);
    // "TG '<panel>' '<control>' '<property>'" is answered <property>=<value>.
    void holdProperty(const std::string& panel, const std::string& control,
                      const std::string& property, const std::string& value);

    // The lines sent since the last call, in order.
    std::vector<std::string> takeLines();
    // Protocol faults so far, one sentence each; an answer still out counts.
    std::vector<std::string> faults() const;
    int handBacks() const { return handBacks_; }

  private:
    void* command(const char* line);
    void release(const void* answer);
    void* answer(const std::string& line);

    std::map<std::string, std::string> answers_;
    std::unique_ptr<char[]> outstanding_;  // the one text answer not yet handed back
    std::string outstandingLine_;
    bool nullHandBackDue_ = false;
    std::vector<std::string> lines_;
    std::vector<std::string> faults_;
    int handBacks_ = 0;
};
