#include "ControlEvent.h"

ControlEvent::ControlEvent(const char* panel, const char* control, const char* eventText)
    : panel_(panel), control_(control), event_(eventText), record_{} {
    record_.panel = panel_.c_str();
    record_.control = control_.c_str();
    record_.event = &event_;
}
