#include "NamesetEditor.h"

#include "NamesetEditorConstants.h"

using namespace nameset;

namespace {
tovi_string decimal(int value) { return tovi_string(value, '\0', 0, 10); }
}  // namespace

NamesetEditor::NamesetEditor(tovi_client_callback* hostObject, const char* path)
    : tovi_script_helper(hostObject, path),
      routerDevice(0),
      tallyDriver(0),
      namesDriver(0),
      brightness(0),
      activeNameset(0),
      pendingNameset(0),
      confirmCountdown(0),
      editNameset(kFirstEditableSet),
      editIndex(0),
      maxNameLength(kMaxNameLength),
      takeCountdown(0),
      selectionPending(false),
      editingTitle(false),
      editing(false),
      editNames(names[kFirstEditableSet + 1]) {
    const tovi_string selector = decimal(kSelectorPanel);
    const tovi_string editor = decimal(kEditorPanel);
    loadPanel(selector, kSelectorLayout, "");
    loadPanel(editor, kEditorLayout, "");
    hideEditDetails();

    findDevice(kRouterName, &routerDevice, nullptr);
    findDevice(kTallyName, &tallyDriver, nullptr);
    findDevice(kNamesDriverName, &namesDriver, nullptr);

    for (int index = 1; index <= kSourceCount; ++index) {
        readName(routerDevice, kRouterNamesDatabase, index, names[0][index]);
    }
    for (int index = 1; index <= kSourceCount; ++index) {
        readName(routerDevice, kRouterSecondDatabase, index, names[1][index]);
    }
    for (int set = kFirstEditableSet; set <= kLastEditableSet; ++set) {
        for (int index = 1; index <= kSourceCount; ++index) {
            readName(namesDriver, set, index, names[set + 1][index]);
        }
    }
    for (int set = kFirstEditableSet; set <= kLastEditableSet; ++set) {
        readName(namesDriver, kTitlesDatabase, set, namesetTitles[set]);
    }
    namesetTitles[0] = kMatrixNamesTitle;
    namesetTitles[kNamesetCount - 1] = kMvInputNamesTitle;

    showPanel(selector, kSelectorLayout, "");
    for (int set = kFirstEditableSet; set <= kLastEditableSet; ++set) {
        putProperty("text", namesetTitles[set], selector, kTitleLabelPrefix + decimal(set));
    }
    disableControl(editor, "KB_1");
    putText("button.001=released", editor, "SrcGroup");
    putProperty("statesheet", kSelected, editor, kSetButtonPrefix + decimal(kFirstEditableSet));
    editNameset = kFirstEditableSet;
    selectNamesTable();
    putProperty("text", namesetTitles[editNameset], editor, "NamesetName");
    disableControl(editor, "Cancel");
    disableControl(editor, "Update");

    registerInfodriver(tallyDriver, kBrightnessSlot, kNamesetSlot, false);
    pollInfodriver(tallyDriver, kBrightnessSlot, kNamesetSlot);
    registerRouter(namesDriver, 1, kSourceCount, false);
}

NamesetEditor::~NamesetEditor() {
    unregisterInfodriver(tallyDriver);
    if (selectionPending) {
        stopTimer(kConfirmTimer);
    }
}

void NamesetEditor::onControlEvent(tovi_control_notify* event) {
    const tovi_string panel = event->panelId();
    const tovi_string control = event->controlName();
    if (panel == kSelectorPanel) {
        if (control.startsWith(kChoicePrefix)) {
            choose(control);
        } else if (control.startsWith(kBrightnessPrefix)) {
            requestBrightness(control);
        } else if (control == "Cancel") {
            if (selectionPending) {
                withdraw();
            }
        } else if (control == "Confirm") {
            confirm();
        } else if (control == "Name_Editor") {
            openEditor();
        }
        return;
    }
    if (panel != kEditorPanel) {
        return;
    }
    if (control == "SrcGroup") {
        page(event->eventValue());
    } else if (control == "SrcName") {
        // Only a source the tables hold (0 to 128) starts an edit.
        bool isNumber = false;
        const int index = event->eventValue().toInt(&isNumber);
        if (isNumber && index >= 0 && index <= kSourceCount) {
            sourceEdit(index);
        }
    } else if (control == "KB_1") {
        keyboard(*event);
    } else if (control == "Cancel") {
        cancelEdit();
    } else if (control == "Update") {
        commit();
    } else if (control.startsWith(kSetButtonPrefix)) {
        setChoice(control);
    } else if (control == "NamesetName") {
        titleEdit();
    } else if (control == "Nameset_Select") {
        back();
    }
}

tovi_string NamesetEditor::choiceControl() const {
    return kChoicePrefix + decimal(pendingNameset);
}

void NamesetEditor::choose(const tovi_string& control) {
    const tovi_string selector = decimal(kSelectorPanel);
    if (selectionPending) {
        putProperty("statesheet", kDeselected, selector, choiceControl());
    }
    putProperty("statesheet", kSelected, selector, control);
    pendingNameset = control.right(1).toInt();
    selectionPending = true;
    confirmCountdown = kConfirmTicks;
    startTimer(kConfirmTimer, kConfirmInterval);
    enableControl(selector, "Confirm");
}

void NamesetEditor::requestBrightness(const tovi_string& control) {
    writeInfodriver(tallyDriver, control.right(1), kBrightnessSlot, false);
}

void NamesetEditor::withdraw() {
    const tovi_string selector = decimal(kSelectorPanel);
    putProperty("statesheet", kDeselected, selector, choiceControl());
    stopTimer(kConfirmTimer);
    confirmCountdown = 0;
    disableControl(selector, "Confirm");
    selectionPending = false;
}

void NamesetEditor::confirm() {
    const tovi_string selector = decimal(kSelectorPanel);
    stopTimer(kConfirmTimer);
    selectionPending = false;
    putProperty("statesheet", kDeselected, selector, choiceControl());
    disableControl(selector, "Confirm");
    writeInfodriver(tallyDriver, decimal(pendingNameset), kNamesetSlot, false);
}

void NamesetEditor::openEditor() {
    removePanel(decimal(kSelectorPanel));
    showPanel(decimal(kEditorPanel), kEditorLayout, "");
}
