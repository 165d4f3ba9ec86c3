#include "ScriptDriver.h"

#include <cstdint>
#include <cstring>

#include "tovi_event_text.h"
#include "tovi_records.h"

namespace {
tovi_revertive_record makeRecord(int device, int database, int index, const std::string& text) {
    tovi_revertive_record record{};
    record.device = device;
    record.database = database;
    record.index = index;
    std::strncpy(record.text, text.c_str(), tovi_revertive_record::kTextCapacity - 1);
    return record;
}
}  // namespace

void ScriptDriver::controlEvent(const std::string& panel, const std::string& control,
                                const std::string& eventText) {
    tovi_event_text event(eventText.c_str());
    tovi_control_record record{};
    record.panel = panel.c_str();
    record.control = control.c_str();
    record.event = &event;
    script_->deliver(&record, tovi_type::kControlEvent);
}

void ScriptDriver::revertive(int device, int slot, const std::string& text) {
    tovi_revertive_record record = makeRecord(device, 0, slot, text);
    script_->deliver(&record, tovi_type::kRevertive);
}

void ScriptDriver::databaseChange(int device, int database, int index, const std::string& text) {
    tovi_revertive_record record = makeRecord(device, database, index, text);
    script_->deliver(&record, tovi_type::kDatabaseChange);
}

void ScriptDriver::timerTick(int timerId) {
    script_->deliver(reinterpret_cast<void*>(static_cast<std::intptr_t>(timerId)),
                     tovi_type::kTimer);
}

std::optional<std::string> ScriptDriver::hostMessage(const char* text) {
    void* answer = script_->deliver(const_cast<char*>(text), tovi_type::kHostMessage);
    if (answer == nullptr) {
        return std::nullopt;
    }
    std::string copy(static_cast<const char*>(answer));
    script_->deliver(answer, tovi_type::kRelease);
    return copy;
}
