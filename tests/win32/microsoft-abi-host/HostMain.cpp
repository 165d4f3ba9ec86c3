// A panel host built with Microsoft's C++ ABI, as the production host is:
// it loads the plugin DLL named on its command line, makes the panel through
// the DLL's one export and plays the host through a whole session: the
// start-up, a confirmed name-set choice, a choice that lapses, a database
// change, a source name edited and committed, host messages, and last the
// release of the script with delete. Prints every failed check; the exit
// code is 0 when all passed, 1 when one failed and 2 when the host crashed.
#include "FreeWatch.h"
#include "PanelInterface.h"
#include "Runtime.h"
#include "StudioHost.h"

// The host's own allocation operators: delete reaches them through the
// deleting destructor of the host's object. Nothing here uses new.
void operator delete(void* block) noexcept {
    free(block);
}
void operator delete(void* block, size_t) noexcept {
    free(block);
}

namespace {
constexpr char kPanelPath[] = "C:/panels";
// Start-up: 1,288 names and titles read with "RN", three devices with "SD",
// and 28 further lines (panels, hidden controls, labels, registrations).
constexpr int kStartupLines = 1319;
constexpr int kStartupAnswers = 1291;
constexpr int kEventBytes = 64;    // the longest event or message text sent here, with room
constexpr int kConfirmTicks = 10;  // a choice lapses on this tick of timer 1
// Exit codes, as the comment at the top of the file says.
constexpr unsigned kFailed = 1;
constexpr unsigned kCrashed = 2;

int gChecks = 0;
int gFailures = 0;

void check(bool passed, const char* what) {
    ++gChecks;
    if (!passed) {
        ++gFailures;
        printf("FAILED: %s\n", what);
    }
}

// Checks the lines sent from `first` on against `expected` and prints both
// on a mismatch.
template <int N>
void expectLinesFrom(const StudioHost& host, int first, const char* step,
                     const char* const (&expected)[N]) {
    bool same = first >= 0 && host.lineCount() >= first + N;
    for (int i = 0; same && i < N; ++i) {
        same = strcmp(host.line(first + i), expected[i]) == 0;
    }
    check(same, step);
    if (!same) {
        for (int i = 0; i < N; ++i) {
            printf("  expected: %s\n", expected[i]);
        }
        for (int i = first; i < host.lineCount() && i < first + N + 4; ++i) {
            printf("  sent:     %s\n", host.line(i));
        }
    }
}

// Checks that exactly `expected` was sent since the last check.
template <int N>
void expectLines(StudioHost& host, const char* step, const char* const (&expected)[N]) {
    check(host.lineCount() == N, step);
    expectLinesFrom(host, 0, step, expected);
    host.clearLines();
}

void expectNoLines(StudioHost& host, const char* step) {
    check(host.lineCount() == 0, step);
    for (int i = 0; i < host.lineCount(); ++i) {
        printf("  sent:     %s\n", host.line(i));
    }
    host.clearLines();
}

// A control event, with the event text parsed by this host as a host does:
// name.sub1.sub2...=value.
void controlEvent(tovi_client_callback* script, const char* panel, const char* control,
                  const char* eventText) {
    static const char kEmpty[] = "";
    char buffer[kEventBytes];
    memcpy(buffer, eventText, strlen(eventText) + 1);
    tovi_event_text event;
    event.name = buffer;
    for (const char*& sub : event.subs) {
        sub = kEmpty;
    }
    event.value = kEmpty;
    event.subCount = 0;
    event.hasValue = false;
    event.buffer = buffer;
    for (char* at = buffer; *at != '\0' && !event.hasValue; ++at) {
        if (*at == '.' && event.subCount < tovi_event_text::kMaxSubs) {
            *at = '\0';
            event.subs[event.subCount++] = at + 1;
        } else if (*at == '=') {
            *at = '\0';
            event.hasValue = true;
            event.value = at + 1;
        }
    }
    tovi_control_record record{0, 0, panel, control, &event};
    script->deliver(&record, notify::kControlEvent);
}

void press(tovi_client_callback* script, const char* panel, const char* control) {
    controlEvent(script, panel, control, "button.pressed");
}

void deviceNotification(tovi_client_callback* script, int type, int device, int database, int index,
                        const char* text) {
    tovi_revertive_record record;
    memset(&record, 0, sizeof record);
    record.device = device;
    record.database = database;
    record.index = index;
    memcpy(record.text, text, strlen(text) + 1);
    script->deliver(&record, type);
}

void timerTick(tovi_client_callback* script, int timerId) {
    script->deliver(reinterpret_cast<void*>(timerId), notify::kTimer);
}

// Sends a host message; checks the answer (null for `expected` null) and,
// for a text, that handing it back makes the plugin free it.
void hostMessage(tovi_client_callback* script, const char* text, const char* expected,
                 const char* step) {
    char message[kEventBytes];
    memcpy(message, text, strlen(text) + 1);
    char* answer = static_cast<char*>(script->deliver(message, notify::kHostMessage));
    if (expected == nullptr || answer == nullptr) {
        check(answer == expected, step);
        return;
    }
    check(strcmp(answer, expected) == 0, step);
    FreeWatch::watch(answer);
    script->deliver(answer, notify::kRelease);
    check(FreeWatch::freed(), "the plugin frees a host-message answer handed back with type 5");
}

void startUp(StudioHost& host) {
    check(host.lineCount() == kStartupLines, "start-up sends 1,319 lines");
    const char* const opening[] = {"PI '1' 'C:/panels/Selector.tovi_ui'",
                                   "PI '2' 'C:/panels/NameEdit.tovi_ui'",
                                   "CH '2' 'L1'",
                                   "CH '2' 'L2'",
                                   "CH '2' 'L3'",
                                   "CH '2' 'L4'",
                                   "CH '2' 'Nameset_id'",
                                   "CH '2' 'LongName'",
                                   "CH '2' 'PreEdit'",
                                   "CH '2' 'PostEdit'",
                                   "SD 'StC SDI Router'",
                                   "SD 'CTA Tally Infodriver'",
                                   "SD 'StC_UMD_Names_DriverID'",
                                   "RN 3 0 1",
                                   "RN 3 0 2"};
    expectLinesFrom(host, 0, "start-up opens with the panels, the devices and the names", opening);
    // The titles read from the names infodriver reach the selector's labels.
    const char* const closing[] = {"RN 12 9 8",
                                   "PS '1' 'C:/panels/Selector.tovi_ui'",
                                   "TP 'text=Studio 1' '1' 'Names_1'",
                                   "TP 'text=Studio 2' '1' 'Names_2'",
                                   "TP 'text=Studio 3' '1' 'Names_3'",
                                   "TP 'text=Studio 4' '1' 'Names_4'",
                                   "TP 'text=Studio 5' '1' 'Names_5'",
                                   "TP 'text=Studio 6' '1' 'Names_6'",
                                   "TP 'text=Studio 7' '1' 'Names_7'",
                                   "TP 'text=Studio 8' '1' 'Names_8'",
                                   "CD '2' 'KB_1'",
                                   "TP 'button.001=released' '2' 'SrcGroup'",
                                   "TP 'statesheet=ZRSourceSelected' '2' 'NameSet_1'",
                                   "TP 'text=Studio 1' '2' 'NamesetName'",
                                   "CD '2' 'Cancel'",
                                   "CD '2' 'Update'",
                                   "IR 57 211 212",
                                   "IP 57 211 212",
                                   "RR 12 1 128"};
    const int closingLines = sizeof closing / sizeof closing[0];
    expectLinesFrom(host, kStartupLines - closingLines,
                    "start-up closes with the selector, its labels and the registrations", closing);
    check(host.answers() == kStartupAnswers && host.handBacks() == kStartupAnswers,
          "every start-up answer is handed back once");
    host.clearLines();
}

void confirmedChoice(StudioHost& host, tovi_client_callback* script) {
    press(script, "1", "Select_5");
    const char* const chosen[] = {"TP 'statesheet=ZRSourceSelected' '1' 'Select_5'", "ET 1 1000",
                                  "CE '1' 'Confirm'"};
    expectLines(host, "a name-set choice starts the confirm window", chosen);
    press(script, "1", "Confirm");
    const char* const confirmed[] = {"ET 1", "TP 'statesheet=ZRSourceDeselected' '1' 'Select_5'",
                                     "CD '1' 'Confirm'", "IW 57 '5' 212 0"};
    expectLines(host, "Confirm writes the choice to the tally slot", confirmed);
    deviceNotification(script, notify::kRevertive, StudioHost::kTally, 0, 212, "5");
    const char* const shown[] = {"TP 'text=Studio 5' '1' 'Current'"};
    expectLines(host, "the tally revertive shows the set now current", shown);
}

void lapsedChoice(StudioHost& host, tovi_client_callback* script) {
    press(script, "1", "Select_3");
    const char* const chosen[] = {"TP 'statesheet=ZRSourceSelected' '1' 'Select_3'", "ET 1 1000",
                                  "CE '1' 'Confirm'"};
    expectLines(host, "a second choice starts the confirm window", chosen);
    for (int tick = 1; tick < kConfirmTicks; ++tick) {
        timerTick(script, 1);
    }
    expectNoLines(host, "nine ticks of timer 1 change nothing");
    timerTick(script, 1);
    const char* const lapsed[] = {"CD '1' 'Confirm'",
                                  "TP 'statesheet=ZRSourceDeselected' '1' 'Select_3'", "ET 1"};
    expectLines(host, "the tenth tick withdraws the choice", lapsed);
}

void databaseChange(StudioHost& host, tovi_client_callback* script) {
    deviceNotification(script, notify::kRevertive, StudioHost::kTally, 0, 212, "4");
    host.clearLines();
    deviceNotification(script, notify::kDatabaseChange, StudioHost::kNames, 9, 4, "Gallery Four");
    const char* const relabelled[] = {"TP 'text=Gallery Four' '1' 'Names_4'",
                                      "TP 'text=Gallery Four' '1' 'Current'"};
    expectLines(host, "a title change reaches the selector's labels", relabelled);
    deviceNotification(script, notify::kDatabaseChange, StudioHost::kRouter, 9, 4, "Elsewhere");
    expectNoLines(host, "another device's change is none of the panel's");
}

void key(StudioHost& host, tovi_client_callback* script, const char* keyboardText,
         const char* eventText) {
    host.holdProperty("2", "KB_1", "text", keyboardText);
    controlEvent(script, "2", "KB_1", eventText);
}

void committedName(StudioHost& host, tovi_client_callback* script) {
    press(script, "2", "NameSet_5");
    const char* const opened[] = {"TP 'statesheet=ZRSourceDeselected' '2' 'NameSet_1'",
                                  "TP 'statesheet=ZRSourceSelected' '2' 'NameSet_5'",
                                  "TP 'text=Studio 5' '2' 'NamesetName'"};
    expectLines(host, "name set 5 opens on the editor", opened);

    controlEvent(script, "2", "SrcName", "selected=37");
    const char* const editing[] = {"CD '2' 'SrcGroup'",
                                   "CD '2' 'SrcName'",
                                   "CD '2' 'Nameset_Select'",
                                   "CD '2' 'NameSet_1'",
                                   "CD '2' 'NameSet_2'",
                                   "CD '2' 'NameSet_3'",
                                   "CD '2' 'NameSet_4'",
                                   "CD '2' 'NameSet_5'",
                                   "CD '2' 'NameSet_6'",
                                   "CD '2' 'NameSet_7'",
                                   "CD '2' 'NameSet_8'",
                                   "CD '2' 'NamesetName'",
                                   "CS '2' 'L1'",
                                   "CS '2' 'L2'",
                                   "CS '2' 'L3'",
                                   "CS '2' 'L4'",
                                   "CS '2' 'Nameset_id'",
                                   "CS '2' 'LongName'",
                                   "CS '2' 'PreEdit'",
                                   "CS '2' 'PostEdit'",
                                   "TP 'text=5' '2' 'Nameset_id'",
                                   "TP 'text=Router 37' '2' 'LongName'",
                                   "TP 'text=Set5 Src37' '2' 'PreEdit'",
                                   "TP 'text=' '2' 'PostEdit'",
                                   "TP 'text=Set5 Src37' '2' 'KB_1'",
                                   "CE '2' 'KB_1'"};
    expectLines(host, "choosing source 37 opens it for editing", editing);

    key(host, script, "Camera Left", "key.t");
    const char* const typed[] = {"TG '2' 'KB_1' 'text'"};
    expectLines(host, "a key reads the keyboard's text back", typed);
    key(host, script, "Camera Left Wide 2", "key.2");
    const char* const cut[] = {"TG '2' 'KB_1' 'text'", "TP 'text=Camera Left Wide' '2' 'KB_1'"};
    expectLines(host, "a text over 16 characters is cut", cut);
    key(host, script, "Camera Left Wide", "key.return");
    const char* const ended[] = {"TG '2' 'KB_1' 'text'",
                                 "TP 'text=Camera Left Wide' '2' 'KB_1'",
                                 "TP 'text=Camera Left Wide' '2' 'PostEdit'",
                                 "CD '2' 'KB_1'",
                                 "CE '2' 'Cancel'",
                                 "CE '2' 'Update'",
                                 "TP 'statesheet=ZR_TakeLow' '2' 'Cancel'",
                                 "TP 'statesheet=ZR_TakeHigh' '2' 'Update'",
                                 "ET 2 500"};
    expectLines(host, "the return key ends typing and starts the take prompt", ended);

    timerTick(script, 2);
    const char* const flashed[] = {"TP 'statesheet=ZR_TakeHigh' '2' 'Cancel'",
                                   "TP 'statesheet=ZR_TakeLow' '2' 'Update'"};
    expectLines(host, "a tick of timer 2 flashes the take prompt", flashed);

    host.holdProperty("2", "PostEdit", "text", "Camera Left Wide");
    press(script, "2", "Update");
    const char* const committed[] = {"ET 2",
                                     "CD '2' 'Cancel'",
                                     "CD '2' 'Update'",
                                     "TG '2' 'PostEdit' 'text'",
                                     "TP 'text=' '2' 'KB_1'",
                                     "RM 12 5 37 'Camera Left Wide' 0",
                                     "CH '2' 'L1'",
                                     "CH '2' 'L2'",
                                     "CH '2' 'L3'",
                                     "CH '2' 'L4'",
                                     "CH '2' 'Nameset_id'",
                                     "CH '2' 'LongName'",
                                     "CH '2' 'PreEdit'",
                                     "CH '2' 'PostEdit'",
                                     "TP 'index=0' '2' 'SrcName'",
                                     "CE '2' 'SrcGroup'",
                                     "CE '2' 'SrcName'",
                                     "CE '2' 'Nameset_Select'",
                                     "CE '2' 'NamesetName'",
                                     "CE '2' 'NameSet_1'",
                                     "CE '2' 'NameSet_2'",
                                     "CE '2' 'NameSet_3'",
                                     "CE '2' 'NameSet_4'",
                                     "CE '2' 'NameSet_5'",
                                     "CE '2' 'NameSet_6'",
                                     "CE '2' 'NameSet_7'",
                                     "CE '2' 'NameSet_8'"};
    expectLines(host, "Update writes the name to the names database", committed);
}

void hostMessages(StudioHost& host, tovi_client_callback* script) {
    hostMessage(script, "myParam=studio 4", nullptr, "setting myParam answers nothing");
    hostMessage(script, "return=all", "myParam=studio 4", "return=all answers the parameter");
    hostMessage(script, "_events", "notify=*", "_events answers the events it wants");
    expectNoLines(host, "host messages send no command");
}

void release(StudioHost& host, tovi_client_callback* script) {
    press(script, "1", "Select_2");
    host.clearLines();
    FreeWatch::watch(script);
    delete script;
    // The panel's own clean-up first, then the framework's "AS", last.
    const char* const stopped[] = {"IU 57", "ET 1", "AS"};
    expectLines(host, "delete runs the panel's destructor, \"AS\" last", stopped);
    check(FreeWatch::freed(), "delete frees the script object in the plugin");
}

long __stdcall reportCrash(void* exceptionPointers) {
    // EXCEPTION_POINTERS starts with the record, which starts with its code
    // and has the faulting address at offset 12.
    const unsigned* const exceptionRecord = *static_cast<unsigned* const*>(exceptionPointers);
    printf("CRASHED: exception 0x%08x at 0x%08x, after %d of the checks\n", exceptionRecord[0],
           exceptionRecord[3], gChecks);
    fflush(nullptr);
    ExitProcess(kCrashed);
    return 0;
}

unsigned run(const char* pluginPath) {
    void* const plugin = LoadLibraryA(pluginPath);
    if (plugin == nullptr) {
        printf("FAILED: cannot load %s\n", pluginPath);
        return kFailed;
    }
    check(FreeWatch::install(plugin), "the plugin imports free() from msvcrt.dll");
    const auto factory =
        reinterpret_cast<ScriptFactory>(GetProcAddress(plugin, "load_tovi_client_script"));
    if (factory == nullptr) {
        printf("FAILED: %s does not export load_tovi_client_script\n", pluginPath);
        return kFailed;
    }

    StudioHost host;
    tovi_client_callback* const script = factory(&host, kPanelPath);
    if (script == nullptr) {
        printf("FAILED: load_tovi_client_script returned null\n");
        return kFailed;
    }
    startUp(host);
    confirmedChoice(host, script);
    lapsedChoice(host, script);
    databaseChange(host, script);
    committedName(host, script);
    hostMessages(host, script);
    release(host, script);
    check(host.faults() == 0, "the plugin keeps the hand-back protocol");

    printf("%s: %d checks, %d failed\n", gFailures == 0 ? "PASSED" : "FAILED", gChecks, gFailures);
    return gFailures == 0 ? 0 : kFailed;
}
}  // namespace

// The program's entry point: there is no C runtime start-up of its own.
extern "C" void __cdecl hostEntry() {
    SetUnhandledExceptionFilter(&reportCrash);
    int argc = 0;
    char** argv = nullptr;
    char** environment = nullptr;
    int startInfo = 0;
    __getmainargs(&argc, &argv, &environment, 0, &startInfo);
    if (argc != 2) {
        printf("usage: microsoft_abi_host PLUGIN.dll\n");
        fflush(nullptr);
        ExitProcess(kFailed);
    }
    const unsigned exitCode = run(argv[1]);
    fflush(nullptr);
    ExitProcess(exitCode);
}
