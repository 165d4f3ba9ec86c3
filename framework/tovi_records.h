#pragma once

#include <cstddef>
#include <cstdint>

#include "tovi_event_text.h"

// Records the host passes with a notification. They belong to the host and
// are valid only for the deliver() call that carries them. Their layouts are
// part of the host interface; the offsets below are those of the 32-bit
// production build and are checked whenever pointers are four bytes wide.

// Types 1 (revertive) and 6 (database change).
struct tovi_revertive_record {
    // Longest slot or name text a record carries, plus its NUL. Slot texts
    // are at most 256 characters; the host refuses longer names.
    static constexpr std::size_t kTextCapacity = 257;

    std::int32_t device;
    std::int32_t database;  // type 6 only
    std::int32_t index;     // slot (type 1) or database entry (type 6)
    std::int32_t reserved;  // the host's own; never read by a script
    char text[kTextCapacity];
};

// Type 2 (control event).
struct tovi_control_record {
    std::int32_t reserved0;  // the host's own; never read by a script
    std::int32_t reserved1;
    const char* panel;    // panel id as decimal text
    const char* control;  // control name
    tovi_event_text* event;
};

static_assert(offsetof(tovi_revertive_record, device) == 0);
static_assert(offsetof(tovi_revertive_record, database) == 4);
static_assert(offsetof(tovi_revertive_record, index) == 8);
static_assert(offsetof(tovi_revertive_record, text) == 16);
static_assert(offsetof(tovi_control_record, panel) == 8);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(tovi_control_record, control) == 12);
static_assert(offsetof(tovi_control_record, event) == 16);
#endif
