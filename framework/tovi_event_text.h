#pragma once

#include <cstddef>
#include <cstdint>

// The parsed form of a text name.sub1.sub2...=value. The host builds one for
// every control event; the script builds its own from a host message.
//
// Every text pointer points either into `buffer` (the object's own copy of
// the text, cut in place) or at one shared constant empty text, so they are
// valid for as long as the object lives. The object is not copyable.
class tovi_event_text {
public:
    static constexpr int kMaxSubs = 32;

    // Parses `text` at once; `text` may be null and is not retained.
    explicit tovi_event_text(const char* text);
    ~tovi_event_text();

    tovi_event_text(const tovi_event_text&) = delete;
    tovi_event_text& operator=(const tovi_event_text&) = delete;

    const char* name;
    const char* subs[kMaxSubs];
    const char* value;
    std::int32_t subCount;
    bool hasValue;
    char* buffer;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(tovi_event_text, name) == 0);
static_assert(offsetof(tovi_event_text, subs) == 4);
static_assert(offsetof(tovi_event_text, value) == 132);
static_assert(offsetof(tovi_event_text, subCount) == 136);
static_assert(offsetof(tovi_event_text, hasValue) == 140);
static_assert(offsetof(tovi_event_text, buffer) == 144);
#endif
