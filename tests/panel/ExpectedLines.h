#pragma once

#include <string>

#include "LineDiff.h"

// The command lines the panel owes the host, built from the panel's own
// texts so that scenarios read as the sequences they check. Every group
// keeps the order in which the panel must send it.
namespace expected {

// Reads of the keyboard's text and of the committed text.
extern const char kReadKeyboard[];
extern const char kReadPostEdit[];

// "TP 'assignment' 'panel' 'control'".
std::string put(const std::string& assignment, const std::string& panel,
                const std::string& control);
// A control command such as "CD '2' 'KB_1'".
std::string control(const std::string& word, const std::string& panel, const std::string& control);

// The editor's selectors disabled or enabled, in the group's order.
Lines disableSelectors();
Lines enableSelectors();
// After a commit the title button comes before the set buttons.
Lines enableAfterCommit();
Lines showDetails();
Lines hideDetails();

// Everything a source edit sends once "SrcName" picked a source of the open
// set `set`: `routerName` is the router's own name of it, `name` its name
// in the set.
Lines sourceEdit(int set, const std::string& routerName, const std::string& name);
// What the return key sends after reading the keyboard: `text` put back
// and shown as the take, the keyboard closed and the take prompt started.
Lines takePrompt(const std::string& text);
// The cancel of an edit, from the editor's "Cancel" or the end of the prompt.
Lines cancelEdit();
// The two statesheets a take-timer tick sends for the count left after it.
Lines takeTick(int countLeft);
// "Update" of a source name: `line` is the "RM" line it writes.
Lines commitSource(const std::string& line);
// "Update" of a title, shown as `text` and written as `line`.
Lines commitTitle(const std::string& text, const std::string& line);

}  // namespace expected
