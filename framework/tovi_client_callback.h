#pragma once

// The one interface that the panel host and a panel script both implement:
// each reaches the other only through deliver(), and the host releases a
// script only through the destructor slot.
//
// The slot order (destructor, then deliver) is part of the binary interface.
// On Windows the production host is built with Microsoft's compiler, which
// gives a virtual destructor one slot, a deleting destructor that takes a
// flags word; GCC gives it two, which would move deliver to slot 2. So when
// GCC (MinGW-w64), or any compiler with GCC's C++ ABI, builds for Windows,
// slot 0 is declared by hand in Microsoft's form and the object's own
// virtual destructor takes slots after deliver, where no host looks. Linux
// builds (GCC on both sides) and Microsoft's compiler use the plain virtual
// destructor, which already gives them the layout their hosts expect.
#if defined(_WIN32) && !defined(_MSC_VER)
#define TOVI_DESTRUCTOR_SLOT_BY_HAND 1
#else
#define TOVI_DESTRUCTOR_SLOT_BY_HAND 0
#endif

class tovi_client_callback {
  public:
#if TOVI_DESTRUCTOR_SLOT_BY_HAND
    // Bit 0 of the deleting destructor's flags: free the memory as well.
    static constexpr unsigned int kFreeMemory = 1;

    // Slot 0, as Microsoft's compiler lays out a virtual destructor: runs the
    // most-derived destructor and, when `flags` has kFreeMemory set, frees
    // the object with the allocator of the module that made it. Returns the
    // object's address, as that compiler's deleting destructors do. This
    // slot and deliver are __thiscall, as the host's are (checked below).
    virtual void* deleting_destructor(unsigned int flags) {
        void* const address = this;
        if ((flags & kFreeMemory) != 0) {
            delete this;
        } else {
            this->~tovi_client_callback();
        }
        return address;
    }
#else
    virtual ~tovi_client_callback() = default;
#endif

    // Script to host: type 0 carries a NUL-terminated command line, type 5
    // hands back a text the host returned earlier. Host to script: the
    // notification types 1 to 7. The meaning of the result depends on type.
    virtual void* deliver(void* data, int type) = 0;

  protected:
#if TOVI_DESTRUCTOR_SLOT_BY_HAND
    // The most-derived destructor for slot 0 to reach. It is protected so
    // that every release goes through slot 0 (tovi_destroy), which a host
    // built with Microsoft's compiler implements too.
    virtual ~tovi_client_callback() = default;
#endif
    tovi_client_callback() = default;
    tovi_client_callback(const tovi_client_callback&) = default;
    tovi_client_callback& operator=(const tovi_client_callback&) = default;
};

#if TOVI_DESTRUCTOR_SLOT_BY_HAND && defined(__i386__)
#include <type_traits>

// Microsoft's compiler calls member functions __thiscall on 32-bit Windows
// (the object in ECX, the arguments on the stack, popped by the callee);
// GCC for i686 Windows does so by default. The build stops here if either
// slot was ever compiled with another convention (as with -mrtd); GCC
// refuses an override whose convention differs. -Wpedantic takes the
// convention of a member-pointer type for a misplaced attribute, but GCC
// honours it, which is what these checks rely on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
static_assert(std::is_same_v<decltype(&tovi_client_callback::deleting_destructor),
                             void* (__thiscall tovi_client_callback::*)(unsigned int)>);
static_assert(std::is_same_v<decltype(&tovi_client_callback::deliver),
                             void* (__thiscall tovi_client_callback::*)(void*, int)>);
#pragma GCC diagnostic pop
#endif

// Destroys and frees `object` (null: nothing) as a host releases a script:
// through the destructor slot of the interface, so that the module that
// made the object destroys and frees it.
inline void tovi_destroy(tovi_client_callback* object) {
#if TOVI_DESTRUCTOR_SLOT_BY_HAND
    if (object != nullptr) {
        object->deleting_destructor(tovi_client_callback::kFreeMemory);
    }
#else
    delete object;
#endif
}

// Notification and command types carried by deliver().
namespace tovi_type {
constexpr int kCommand = 0;
constexpr int kRevertive = 1;
constexpr int kControlEvent = 2;
constexpr int kHostMessage = 3;
constexpr int kTimer = 4;
constexpr int kRelease = 5;
constexpr int kDatabaseChange = 6;
constexpr int kType7 = 7;
}  // namespace tovi_type
