#pragma once

#include "tovi_client_callback.h"
#include "tovi_control_notify.h"
#include "tovi_host_message.h"
#include "tovi_revertive_notify.h"
#include "tovi_string.h"
#include "tovi_stringlist.h"

// The one-word wrapper a type-7 notification reaches its handler in.
struct tovi_type7_notify {
    void* data;
};

// Base class of every panel script. It implements deliver(), the host's only
// entry, and turns each notification into one call of a virtual handler; it
// also offers the host command set, device lookup and the shared alarm
// buttons to the panel that derives from it.
//
// The host must call into one object one call at a time. Every command is
// sent synchronously with host->deliver(line, 0) from within such a call; a
// text the host answers with is copied and handed back with type 5 before
// the operation returns. With a null host nothing is ever sent.
class tovi_script_helper : public tovi_client_callback {
public:
    // Keeps `hostObject` (not owned; may be null) and copies `data`, the folder of
    // the panel's layout files (may be null). Sends nothing.
    tovi_script_helper(tovi_client_callback* hostObject, const char* data);
    // Sends "AS" as the object's last command.
    ~tovi_script_helper() override;

    tovi_script_helper(const tovi_script_helper&) = delete;
    tovi_script_helper& operator=(const tovi_script_helper&) = delete;

    // The host's notifications, types 1 to 7. For type 3 the result is a
    // text allocated here, which the host hands back with type 5; every other
    // type returns null.
    void* deliver(void* data, int type) override;

protected:
    // The handlers, in the binary interface's slot order. Each notification
    // and its record are valid only during the call.
    virtual void onControlEvent(tovi_control_notify* event) = 0;
    virtual int onRevertive(tovi_revertive_notify* revertive) = 0;
    virtual tovi_string onHostMessage(tovi_host_message* message) = 0;
    virtual void onNotifyType7(tovi_type7_notify* notify);
    virtual void onTimer(int timerId) = 0;
    virtual void onDatabaseChange(tovi_revertive_notify* change);

    // Host command set. Panel ids and control names are sent as given,
    // between apostrophes and unescaped.
    void disableControl(const tovi_string& panel, const tovi_string& control);
    void enableControl(const tovi_string& panel, const tovi_string& control);
    void hideControl(const tovi_string& panel, const tovi_string& control);
    void showControl(const tovi_string& panel, const tovi_string& control);
    // Load, show and remove a panel: the host's truth, true without a host.
    bool loadPanel(const tovi_string& panel, const tovi_string& layoutFile,
                   const tovi_string& extra);
    bool showPanel(const tovi_string& panel, const tovi_string& layoutFile,
                   const tovi_string& extra);
    bool removePanel(const tovi_string& panel);
    // `text` is a whole assignment such as "text=" or "index=0".
    void putText(const tovi_string& text, const tovi_string& panel, const tovi_string& control);
    void putProperty(const tovi_string& property, const tovi_string& value,
                     const tovi_string& panel, const tovi_string& control);
    // Reads a control property into `result`. Returns true when the host
    // answered for `property` (any answer, for "all"); otherwise `result`
    // is empty and false tells the caller that nothing was read.
    bool textGet(const tovi_string& property, const tovi_string& panel,
                 const tovi_string& control, tovi_string& result);
    void startTimer(int timerId, int interval);
    void stopTimer(int timerId);
    void registerInfodriver(int device, int from, int to, bool add);
    void unregisterInfodriver(int device);
    void pollInfodriver(int device, int from, int to);
    void writeInfodriver(int device, const tovi_string& text, int index, bool flag);
    void registerRouter(int device, int from, int to, bool add);
    // Copies the entry's name into `name`; a null answer leaves it as it was.
    void readName(int device, int database, int index, tovi_string& name);
    void writeName(int device, int database, int index, const tovi_string& name, bool flag);
    void debugOut(const tovi_string& text);
    // Fills the format's markers with the values in one pass; text taken
    // from the values is never scanned for further markers.
    void debugOut(const tovi_string& format, const tovi_string& value1,
                  const tovi_string& value2, const tovi_string& value3,
                  const tovi_string& value4, const tovi_string& value5,
                  const tovi_string& value6, const tovi_string& value7,
                  const tovi_string& value8, const tovi_string& value9);

    // Asks the host for the device number of `instanceName` ("SD"). Both
    // outputs may be null and are set to 0 first. Returns whether the host
    // answered at all.
    bool findDevice(tovi_string instanceName, int* deviceOut, int* secondOut);

    // Sets (and, for "ack" or "4", acknowledges) every alarm indicator of
    // panel 1. Called by the screening in deliver() while handleAlarms is set.
    void alarmAll(const tovi_string& action);
    // The names of the controls of `panel` that start with `prefix`.
    tovi_stringlist listControls(const tovi_string& panel, const tovi_string& prefix);

    tovi_client_callback* host;
    tovi_string panelPath;
    // When set, the "ActionAll" and "AckAll" buttons of every panel go to
    // alarmAll() instead of onControlEvent().
    bool handleAlarms;

private:
    void* dispatch(void* data, int type);
    void dispatchControlEvent(const tovi_control_record* record);
    void* answerHostMessage(const char* text);

    // Sends a line; the host's result, or null without a host.
    void* send(char* line);
    // Hands a text answer back to the host.
    void handBack(void* answer);
    void sendControlCommand(const char* word, const tovi_string& panel,
                            const tovi_string& control);
    bool sendPanelCommand(const char* word, const tovi_string& panel,
                          const tovi_string& layoutFile, const tovi_string& extra);
    void sendRangeCommand(const char* word, int device, int from, int to, bool add);
};
