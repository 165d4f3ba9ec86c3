#pragma once

#include "tovi_script_helper.h"
#include "tovi_string.h"

// The operator panel for the studio's under-monitor displays. The selector
// panel chooses which of ten name sets the displays show, and their
// brightness; the editor panel edits the 128 source names of sets 1 to 8
// and the sets' titles on an on-screen keyboard.
//
// Every name is read once at start-up and kept current from the devices'
// notifications. The handlers rely on the layout disabling controls outside
// the states in which they may be used.
class NamesetEditor : public tovi_script_helper {
public:
    // Runs the whole start-up: loads both panels, finds the three devices,
    // reads every name and title, shows the selector panel and registers
    // for the tally slots and the names databases.
    NamesetEditor(tovi_client_callback* hostObject, const char* path);
    // Unregisters the tally infodriver and stops a pending confirm window.
    ~NamesetEditor() override;

    // Name sets 0 to 9; sets 1 to 8 are the editable ones.
    static constexpr int kNamesetCount = 10;
    // Sources 1 to 128; every table also has an entry 0, never loaded.
    static constexpr int kSourceCount = 128;
    static constexpr int kTableEntries = kSourceCount + 1;

protected:
    void onControlEvent(tovi_control_notify* event) override;
    int onRevertive(tovi_revertive_notify* revertive) override;
    tovi_string onHostMessage(tovi_host_message* message) override;
    void onTimer(int timerId) override;
    void onDatabaseChange(tovi_revertive_notify* change) override;

private:
    // Selector panel.
    void choose(const tovi_string& control);
    void requestBrightness(const tovi_string& control);
    void withdraw();
    void confirm();
    void openEditor();
    tovi_string choiceControl() const;

    // Editor panel.
    void page(const tovi_string& value);
    void sourceEdit(int index);
    void keyboard(const tovi_control_notify& event);
    void cancelEdit();
    void commit();
    void setChoice(const tovi_string& control);
    void titleEdit();
    void back();
    void readKeyboard();
    void hideEditDetails();
    void showEditDetails();
    void disableSelectors();
    void selectNamesTable();

    // Tally slots, name databases and timers.
    void onBrightnessReport(const tovi_string& text);
    void onNamesetReport(const tovi_string& text);
    void onConfirmTick();
    void onTakeTick();

    int routerDevice;
    int tallyDriver;
    int namesDriver;
    int brightness;
    int activeNameset;
    int pendingNameset;
    int confirmCountdown;
    int editNameset;
    int editIndex;
    int maxNameLength;
    int takeCountdown;
    bool selectionPending;
    bool editingTitle;
    bool editing;
    // The table of editNameset, one of `names`.
    tovi_string* editNames;
    // Table 0: the router's own names (set 0); table 1: the router's second
    // list; tables 2 to 9: name sets 1 to 8.
    tovi_string names[kNamesetCount][kTableEntries];
    tovi_string namesetTitles[kNamesetCount];
    tovi_string editBuffer;
    tovi_string myParam;
    tovi_string instance;
};
