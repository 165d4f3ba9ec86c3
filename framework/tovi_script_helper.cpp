#include "tovi_script_helper.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "tovi_command_line.h"
#include "tovi_event_text.h"
#include "tovi_records.h"

// Carried in the framework's initialised data for tools that inspect the
// binary; the framework itself never reads it.
extern "C" {
extern const char tovi_script_helper_signature[];
const char tovi_script_helper_signature[] =
    "TOVI_SIG,name=tovi_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,author=UMD panel "
    "team";
}

tovi_script_helper::tovi_script_helper(tovi_client_callback* hostObject, const char* data)
    : host(hostObject), panelPath(data), handleAlarms(false) {}

tovi_script_helper::~tovi_script_helper() {
    tovi_command_line<kNumericLineBytes> line;
    line << "AS";
    send(line.text());
}

void* tovi_script_helper::deliver(void* data, int type) {
    // No exception may cross the host boundary: a notification that cannot
    // be handled (out of memory) is dropped like any other it cannot use.
    try {
        return dispatch(data, type);
    } catch (...) {
        return nullptr;
    }
}

void* tovi_script_helper::dispatch(void* data, int type) {
    switch (type) {
        case tovi_type::kRevertive:
            if (data != nullptr) {
                tovi_revertive_notify revertive(static_cast<const tovi_revertive_record*>(data));
                onRevertive(&revertive);
            }
            return nullptr;
        case tovi_type::kControlEvent:
            if (data != nullptr) {
                dispatchControlEvent(static_cast<const tovi_control_record*>(data));
            }
            return nullptr;
        case tovi_type::kHostMessage:
            return answerHostMessage(static_cast<const char*>(data));
        case tovi_type::kTimer:
            // The timer id travels in the pointer word itself.
            onTimer(static_cast<int>(reinterpret_cast<std::intptr_t>(data)));
            return nullptr;
        case tovi_type::kRelease:
            ::operator delete(data);
            return nullptr;
        case tovi_type::kDatabaseChange:
            if (data != nullptr) {
                tovi_revertive_notify change(static_cast<const tovi_revertive_record*>(data));
                onDatabaseChange(&change);
            }
            return nullptr;
        case tovi_type::kType7: {
            tovi_type7_notify word{data};
            onNotifyType7(&word);
            return nullptr;
        }
        default:
            return nullptr;
    }
}

void tovi_script_helper::onNotifyType7(tovi_type7_notify*) {}

void tovi_script_helper::onDatabaseChange(tovi_revertive_notify*) {}

void tovi_script_helper::dispatchControlEvent(const tovi_control_record* record) {
    tovi_control_notify event(record);
    if (handleAlarms) {
        const tovi_string control = event.controlName();
        if (control == "ActionAll" && event.eventName() == "alarm") {
            alarmAll(event.eventValue());
            return;
        }
        if (control == "AckAll") {
            alarmAll("4");
            return;
        }
    }
    onControlEvent(&event);
}

void* tovi_script_helper::answerHostMessage(const char* text) {
    tovi_string answer;
    {
        const tovi_event_text parsed(text);
        tovi_host_message message(&parsed);
        answer = onHostMessage(&message);
    }
    const std::size_t length = answer.length();
    if (length == 0) {
        return nullptr;
    }
    // Freed by the type-5 release, with the matching global operator.
    void* block = ::operator new(length + 1);
    std::memcpy(block, answer.data(), length + 1);
    return block;
}

void* tovi_script_helper::send(char* line) {
    return host == nullptr ? nullptr : host->deliver(line, tovi_type::kCommand);
}

void tovi_script_helper::handBack(void* answer) { host->deliver(answer, tovi_type::kRelease); }
