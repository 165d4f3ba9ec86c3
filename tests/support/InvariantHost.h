#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tovi_client_callback.h"

// A host that plays the studio for a panel under random or fuzzed input and
// checks, on every line the panel sends, what must never happen:
//   - a line the host's command-line parser cannot read (it reads every
//     line here, so the checks see the fields the host would see);
//   - any line after "AS";
//   - an "RM" outside databases 1 to 9, to database 9 outside entries 1 to
//     8, to an entry outside 0 to 128, or to another device than the names
//     infodriver;
//   - an "RM" with an empty name that replaces a stored name, unless the
//     keyboard held an empty text at some time during the edit;
//   - a control command whose panel or control field holds an apostrophe
//     or a blank (a field split by text the operator did not type);
//   - a text answer not handed back exactly once before the next command,
//     or any other pointer handed back.
// It keeps the control properties the panel sets, so "TG" answers what was
// put or typed, and the name databases the panel writes.
class InvariantHost : public tovi_client_callback {
  public:
    static constexpr int kRouter = 3;
    static constexpr int kTally = 57;
    static constexpr int kNames = 12;

    // How "TG" is answered: as a real host does, not at all, or for another
    // property (both make the panel's read fail).
    enum class ReadFault { kNone, kNullAnswer, kOtherProperty };

    InvariantHost();
    ~InvariantHost() override;

    void* deliver(void* data, int type) override;

    // The operator types: the keyboard's text becomes `text`.
    void typeOnKeyboard(const std::string& text);
    void setReadFault(ReadFault fault) { readFault_ = fault; }
    void setName(int database, int index, const std::string& name);

    // What a real host lets the operator reach: the panel shown last, and
    // the controls the panel has not disabled ("Confirm" starts disabled).
    const std::string& shownPanel() const { return shownPanel_; }
    bool isEnabled(const std::string& panel, const std::string& control) const;

    const std::vector<std::string>& violations() const { return violations_; }
    // Adds the faults found once the panel is gone (answers never handed back).
    void finish();

  private:
    void* command(const std::string& line);
    void checkPlain(const std::string& line, const std::vector<std::string>& fields);
    void setEnabled(const std::string& panel, const std::string& control, bool enabled);
    void checkWriteName(const std::string& line, int device, int database, int index,
                        const std::string& name);
    void applyPut(const std::string& panel, const std::string& control,
                  const std::string& assignment);
    void* answerDevice(const std::string& device);
    void* answerName(int database, int index);
    void* answerProperty(const std::string& panel, const std::string& control,
                         const std::string& name);
    void* answerText(const std::string& text);
    std::string property(const std::string& panel, const std::string& control,
                         const std::string& name) const;
    void violation(const std::string& what, const std::string& line);

    std::map<std::string, std::string> properties_;     // "panel|control|property" -> value
    std::map<std::pair<int, int>, std::string> names_;  // (database, index) -> name
    std::set<std::string> disabled_;                    // "panel|control"
    std::string shownPanel_;
    std::set<const void*> outstanding_;
    std::vector<std::unique_ptr<char[]>> storage_;
    std::vector<std::string> violations_;
    bool keyboardWasEmpty_ = false;  // during the edit under way
    ReadFault readFault_ = ReadFault::kNone;
    bool ended_ = false;
    bool nullHandBackAllowed_ = false;
};
