#pragma once

#include "tovi_event_text.h"
#include "tovi_string.h"

// A property message from the enclosing panel, parsed as name.subs=value.
// Views a parsed text that must outlive it.
class tovi_host_message {
public:
    explicit tovi_host_message(const tovi_event_text* text) noexcept : text_(text) {}

    tovi_string messageName() const { return tovi_string(text_->name); }
    tovi_string messageValue() const { return tovi_string(text_->value); }

private:
    const tovi_event_text* text_;
};
