#pragma once

#include "PanelInterface.h"

// The host's own callback object, as a host built with Microsoft's compiler
// hands it to the plugin: it logs every command line, answers "SD", "RN",
// "TG" and "XI" with texts it allocates, "PI", "PS" and "PR" with a truth,
// and checks that each text answer comes back with type 5 exactly once
// before the next command (a null "RN" answer comes back as null). Each
// breach is printed and counted as a fault.
class StudioHost : public tovi_client_callback {
  public:
    // Device numbers the host gives the panel's instance names.
    static constexpr int kRouter = 3;
    static constexpr int kTally = 57;
    static constexpr int kNames = 12;

    StudioHost();
    ~StudioHost() override;
    StudioHost(const StudioHost&) = delete;
    StudioHost& operator=(const StudioHost&) = delete;

    void* deliver(void* data, int type) override;

    // "TG '<panel>' '<control>' '<property>'" is answered <property>=<value>.
    void holdProperty(const char* panel, const char* control, const char* property,
                      const char* value);

    int lineCount() const { return lineCount_; }
    const char* line(int position) const;
    void clearLines() { lineCount_ = 0; }
    int answers() const { return answers_; }
    int handBacks() const { return handBacks_; }
    // Faults so far; an answer still out counts as one.
    int faults() const;

  private:
    void* command(const char* line);
    void release(void* answer);
    void* answerFor(const char* line);
    void* nameFor(const char* line);
    void* propertyFor(const char* line);
    void* allocated(const char* text);
    void fault(const char* what, const char* line);

    static constexpr int kMaxLines = 1400;  // start-up sends 1,319
    static constexpr int kLineBytes = 96;   // longest line the panel sends, with room
    static constexpr int kMaxProperties = 4;
    static constexpr int kPropertyBytes = 96;

    char* lines_;
    int lineCount_ = 0;
    char properties_[kMaxProperties][2][kPropertyBytes] = {};  // TG line, answer
    int propertyCount_ = 0;
    void* outstanding_ = nullptr;
    bool nullHandBackDue_ = false;
    int answers_ = 0;
    int handBacks_ = 0;
    int faults_ = 0;
};
