#pragma once

// The panel host interface as this host declares it for itself, built with
// Microsoft's C++ ABI: the virtual destructor takes slot 0 as a deleting
// destructor and deliver() takes slot 1, both __thiscall. The records are
// the host's own, in their 32-bit layouts.

class tovi_client_callback {
  public:
    virtual ~tovi_client_callback() {}
    virtual void* deliver(void* data, int type) = 0;
};

// The plugin's one export: undecorated, __cdecl.
using ScriptFactory = tovi_client_callback*(__cdecl*)(tovi_client_callback* host, const char* path);

namespace notify {
constexpr int kCommand = 0;
constexpr int kRevertive = 1;
constexpr int kControlEvent = 2;
constexpr int kHostMessage = 3;
constexpr int kTimer = 4;
constexpr int kRelease = 5;
constexpr int kDatabaseChange = 6;
}  // namespace notify

// Types 1 and 6. Slot texts are at most 256 characters.
struct tovi_revertive_record {
    int device;
    int database;
    int index;
    int reserved;
    char text[257];
};

// The parsed text name.sub1.sub2...=value of a control event.
struct tovi_event_text {
    static constexpr int kMaxSubs = 32;
    const char* name;
    const char* subs[kMaxSubs];
    const char* value;
    int subCount;
    bool hasValue;
    char* buffer;
};

// Type 2.
struct tovi_control_record {
    int reserved0;
    int reserved1;
    const char* panel;
    const char* control;
    tovi_event_text* event;
};

static_assert(sizeof(void*) == 4, "the host interface is the 32-bit one");
static_assert(__builtin_offsetof(tovi_revertive_record, index) == 8);
static_assert(__builtin_offsetof(tovi_revertive_record, text) == 16);
static_assert(__builtin_offsetof(tovi_event_text, value) == 132);
static_assert(__builtin_offsetof(tovi_event_text, subCount) == 136);
static_assert(__builtin_offsetof(tovi_event_text, hasValue) == 140);
static_assert(__builtin_offsetof(tovi_event_text, buffer) == 144);
static_assert(__builtin_offsetof(tovi_control_record, panel) == 8);
static_assert(__builtin_offsetof(tovi_control_record, event) == 16);
