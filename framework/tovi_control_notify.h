#pragma once

#include "tovi_records.h"
#include "tovi_string.h"

// A control event as a handler sees it: a view of the host's record, valid
// only during the notification. Absent texts read as empty.
class tovi_control_notify {
public:
    explicit tovi_control_notify(const tovi_control_record* record) noexcept : record_(record) {}

    tovi_string panelId() const { return tovi_string(record_->panel); }
    tovi_string controlName() const { return tovi_string(record_->control); }
    tovi_string eventName() const { return hasEvent() ? record_->event->name : ""; }
    tovi_string eventSub() const { return hasEvent() ? record_->event->subs[0] : ""; }
    tovi_string eventValue() const { return hasEvent() ? record_->event->value : ""; }
    int eventSubCount() const noexcept { return hasEvent() ? record_->event->subCount : 0; }

private:
    bool hasEvent() const noexcept { return record_->event != nullptr; }

    const tovi_control_record* record_;
};
