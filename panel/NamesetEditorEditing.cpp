// The editor panel: choosing a name set, editing a source name or a set's
// title on the keyboard, and committing or dropping the edit.
#include "NamesetEditor.h"
#include "NamesetEditorConstants.h"

using namespace nameset;

namespace {
tovi_string decimal(int value) { return tovi_string(value, '\0', 0, 10); }

// The controls an edit disables and re-enables, in the order sent.
const char* const kSelectorControls[] = {
    "SrcGroup",   "SrcName",    "Nameset_Select", "NameSet_1", "NameSet_2", "NameSet_3",
    "NameSet_4",  "NameSet_5",  "NameSet_6",      "NameSet_7", "NameSet_8", "NamesetName"};
// After a commit the title button comes before the set buttons.
const char* const kCommitEnableOrder[] = {
    "SrcGroup",  "SrcName",   "Nameset_Select", "NamesetName", "NameSet_1", "NameSet_2",
    "NameSet_3", "NameSet_4", "NameSet_5",      "NameSet_6",   "NameSet_7", "NameSet_8"};
const char* const kDetailControls[] = {"L1",         "L2",       "L3",      "L4",
                                       "Nameset_id", "LongName", "PreEdit", "PostEdit"};
const char* const kClearedControls[] = {"Nameset_id", "LongName", "PreEdit", "PostEdit",
                                        "KB_1"};
}  // namespace

void NamesetEditor::page(const tovi_string& value) {
    putProperty("page", value, decimal(kEditorPanel), "SrcName");
}

void NamesetEditor::sourceEdit(int index) {
    const tovi_string editor = decimal(kEditorPanel);
    disableSelectors();
    editingTitle = false;
    editing = true;
    editIndex = index;
    maxNameLength = kMaxNameLength;
    editBuffer = editNames[editIndex];
    showEditDetails();
    putProperty("text", decimal(editNameset), editor, "Nameset_id");
    putProperty("text", names[0][editIndex], editor, "LongName");
    putProperty("text", editBuffer, editor, "PreEdit");
    putProperty("text", "", editor, "PostEdit");
    putProperty("text", editBuffer, editor, "KB_1");
    enableControl(editor, "KB_1");
}

void NamesetEditor::readKeyboard() {
    // A read the host does not answer keeps the text held so far rather
    // than blanking the name.
    tovi_string typed;
    if (textGet("text", decimal(kEditorPanel), "KB_1", typed)) {
        editBuffer = typed;
    }
}

void NamesetEditor::keyboard(const tovi_control_notify& event) {
    if (event.eventSubCount() != 1) {
        return;
    }
    const tovi_string editor = decimal(kEditorPanel);
    const unsigned limit = static_cast<unsigned>(maxNameLength);
    readKeyboard();
    if (event.eventSub() != "return") {
        if (editBuffer.length() > limit) {
            editBuffer.truncate(limit);
            putProperty("text", editBuffer, editor, "KB_1");
        }
        return;
    }
    editBuffer.truncate(limit);
    putProperty("text", editBuffer, editor, "KB_1");
    putProperty("text", editBuffer, editor, "PostEdit");
    disableControl(editor, "KB_1");
    enableControl(editor, "Cancel");
    enableControl(editor, "Update");
    putProperty("statesheet", kTakeLow, editor, "Cancel");
    putProperty("statesheet", kTakeHigh, editor, "Update");
    takeCountdown = kTakeTicks;
    startTimer(kTakeTimer, kTakeInterval);
}

void NamesetEditor::cancelEdit() {
    const tovi_string editor = decimal(kEditorPanel);
    stopTimer(kTakeTimer);
    for (const char* control : kClearedControls) {
        putText("text=", editor, control);
    }
    disableControl(editor, "Cancel");
    disableControl(editor, "Update");
    for (const char* control : kSelectorControls) {
        enableControl(editor, control);
    }
    putText("index=0", editor, "SrcName");
    editing = false;
    hideEditDetails();
}

void NamesetEditor::commit() {
    const tovi_string editor = decimal(kEditorPanel);
    stopTimer(kTakeTimer);
    disableControl(editor, "Cancel");
    disableControl(editor, "Update");
    // A failed read-back keeps the text taken at the return key: a fault of
    // the host must never blank a stored name.
    tovi_string committed;
    if (textGet("text", editor, "PostEdit", committed)) {
        editBuffer = committed;
    }
    putText("text=", editor, "KB_1");
    if (editingTitle) {
        putProperty("text", editBuffer, editor, "NamesetName");
        editing = false;
        writeName(namesDriver, kTitlesDatabase, editNameset, editBuffer, false);
    } else {
        editNames[editIndex] = editBuffer;
        writeName(namesDriver, editNameset, editIndex, editBuffer, false);
        hideEditDetails();
        putText("index=0", editor, "SrcName");
        editing = false;
    }
    for (const char* control : kCommitEnableOrder) {
        enableControl(editor, control);
    }
}

void NamesetEditor::setChoice(const tovi_string& control) {
    // Only sets 1 to 8 can be opened: any other number would later commit
    // into the wrong database.
    bool isNumber = false;
    const int set = control.right(1).toInt(&isNumber);
    if (!isNumber || set < kFirstEditableSet || set > kLastEditableSet) {
        return;
    }
    const tovi_string editor = decimal(kEditorPanel);
    putProperty("statesheet", kDeselected, editor, kSetButtonPrefix + decimal(editNameset));
    editNameset = set;
    putProperty("statesheet", kSelected, editor, control);
    putProperty("text", namesetTitles[editNameset], editor, "NamesetName");
    selectNamesTable();
}

void NamesetEditor::titleEdit() {
    const tovi_string editor = decimal(kEditorPanel);
    editingTitle = true;
    editing = true;
    disableSelectors();
    maxNameLength = kMaxNameLength;
    // The keyboard fills the buffer; starting it from the title means a
    // failed keyboard read can only keep the title, never another name.
    editBuffer = namesetTitles[editNameset];
    putProperty("text", namesetTitles[editNameset], editor, "KB_1");
    enableControl(editor, "KB_1");
}

void NamesetEditor::back() {
    removePanel(decimal(kEditorPanel));
    showPanel(decimal(kSelectorPanel), kSelectorLayout, "");
}

void NamesetEditor::hideEditDetails() {
    const tovi_string editor = decimal(kEditorPanel);
    for (const char* control : kDetailControls) {
        hideControl(editor, control);
    }
}

void NamesetEditor::showEditDetails() {
    const tovi_string editor = decimal(kEditorPanel);
    for (const char* control : kDetailControls) {
        showControl(editor, control);
    }
}

void NamesetEditor::disableSelectors() {
    const tovi_string editor = decimal(kEditorPanel);
    for (const char* control : kSelectorControls) {
        disableControl(editor, control);
    }
}

void NamesetEditor::selectNamesTable() {
    if (editNameset >= kFirstEditableSet && editNameset <= kLastEditableSet) {
        editNames = names[editNameset + 1];
    }
}
