// Following the devices (tally slots, name databases), the enclosing
// panel's properties, and the two timers.
#include "NamesetEditor.h"
#include "NamesetEditorConstants.h"
#include "tovi_stringlist.h"

using namespace nameset;

namespace {
tovi_string decimal(int value) { return tovi_string(value, '\0', 0, 10); }

// Lists in answers to the enclosing panel hold one name=value per line.
constexpr char kAnswerLineSeparator = '\n';
}  // namespace

int NamesetEditor::onRevertive(tovi_revertive_notify* revertive) {
    if (revertive->device() != tallyDriver) {
        return 0;
    }
    if (revertive->index() == kBrightnessSlot) {
        onBrightnessReport(revertive->text());
    } else if (revertive->index() == kNamesetSlot) {
        onNamesetReport(revertive->text());
    }
    return 0;
}

void NamesetEditor::onBrightnessReport(const tovi_string& text) {
    // Only a wholly numeric report is taken, so the control name built from
    // it below can hold nothing but digits and a sign.
    bool isNumber = false;
    const int level = text.toInt(&isNumber);
    if (!isNumber || level < kLowestBrightness || level > kHighestBrightness) {
        return;
    }
    const tovi_string selector = decimal(kSelectorPanel);
    if (brightness != 0) {
        putProperty("statesheet", kDeselected, selector, kBrightnessPrefix + decimal(brightness));
    }
    brightness = level;
    putProperty("statesheet", kSelected, selector, kBrightnessPrefix + text);
}

void NamesetEditor::onNamesetReport(const tovi_string& text) {
    bool isNumber = false;
    const int set = text.toInt(&isNumber);
    if (!isNumber || set < 0 || set >= kNamesetCount) {
        return;
    }
    activeNameset = set;
    putProperty("text", namesetTitles[activeNameset], decimal(kSelectorPanel), "Current");
}

void NamesetEditor::onDatabaseChange(tovi_revertive_notify* change) {
    if (change->device() != namesDriver) {
        return;
    }
    const int database = change->database();
    const int index = change->index();
    if (database >= kFirstEditableSet && database <= kLastEditableSet) {
        if (index < 0 || index > kSourceCount) {
            return;
        }
        const tovi_string text = change->text();
        names[database + 1][index] = text;
        if (editing && !editingTitle && database == editNameset && index == editIndex) {
            const tovi_string editor = decimal(kEditorPanel);
            putProperty("text", text, editor, "PreEdit");
            putProperty("text", text, editor, "KB_1");
        }
        return;
    }
    if (database == kTitlesDatabase && index >= kFirstEditableSet && index <= kLastEditableSet) {
        const tovi_string text = change->text();
        const tovi_string selector = decimal(kSelectorPanel);
        namesetTitles[index] = text;
        putProperty("text", text, selector, kTitleLabelPrefix + decimal(index));
        if (index == activeNameset) {
            putProperty("text", text, selector, "Current");
        }
    }
}

tovi_string NamesetEditor::onHostMessage(tovi_host_message* message) {
    const tovi_string name = message->messageName();
    const tovi_string value = message->messageValue();
    if (name == "return") {
        if (value == "all") {
            tovi_stringlist properties;
            properties << tovi_string("myParam=%1").arg(myParam);
            return properties.toString(kAnswerLineSeparator);
        }
        if (value == "myParam") {
            return tovi_string("%1=%2").arg({value, myParam});
        }
        return tovi_string();
    }
    if (name == "instance") {
        if (instance != value) {
            instance = value;
        }
        return tovi_string();
    }
    if (name == "myParam") {
        myParam = value;
        return tovi_string();
    }
    if (name == "_events") {
        tovi_stringlist events;
        events << "notify=*";
        return events.toString(kAnswerLineSeparator);
    }
    if (name == "_commands") {
        tovi_stringlist commands;
        commands << "myParam=[value]";
        return commands.toString(kAnswerLineSeparator);
    }
    return tovi_string();
}

void NamesetEditor::onTimer(int timerId) {
    if (timerId == kConfirmTimer) {
        onConfirmTick();
    } else if (timerId == kTakeTimer) {
        onTakeTick();
    } else {
        stopTimer(timerId);
    }
}

void NamesetEditor::onConfirmTick() {
    --confirmCountdown;
    if (confirmCountdown != 0) {
        return;
    }
    const tovi_string selector = decimal(kSelectorPanel);
    disableControl(selector, "Confirm");
    putProperty("statesheet", kDeselected, selector, choiceControl());
    stopTimer(kConfirmTimer);
    selectionPending = false;
}

void NamesetEditor::onTakeTick() {
    const tovi_string editor = decimal(kEditorPanel);
    --takeCountdown;
    const bool odd = takeCountdown % 2 != 0;
    putProperty("statesheet", odd ? kTakeHigh : kTakeLow, editor, "Cancel");
    putProperty("statesheet", odd ? kTakeLow : kTakeHigh, editor, "Update");
    if (takeCountdown == 0) {
        stopTimer(kTakeTimer);
        cancelEdit();
    }
}
