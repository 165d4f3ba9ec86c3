#pragma once

#include <string>

#include "tovi_event_text.h"
#include "tovi_records.h"

// A control event as the host hands it over, built once so that it can be
// delivered any number of times: the record, its texts and its parsed event
// text live as long as the object, which must not move (the record points
// into it).
class ControlEvent {
  public:
    // `eventText` is parsed as the host parses a control's event text.
    ControlEvent(const char* panel, const char* control, const char* eventText);

    ControlEvent(const ControlEvent&) = delete;
    ControlEvent& operator=(const ControlEvent&) = delete;

    // The record for deliver() with type 2.
    void* record() noexcept { return &record_; }

  private:
    std::string panel_;
    std::string control_;
    tovi_event_text event_;
    tovi_control_record record_;
};
