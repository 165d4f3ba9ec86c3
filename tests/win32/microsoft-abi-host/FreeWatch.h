#pragma once

// Sees which blocks a loaded DLL frees: the DLL's import slots for msvcrt's
// free() are pointed at a function of this host that notes the block and
// then frees it. One DLL and one watched block at a time; the host has one
// thread.
class FreeWatch {
  public:
    // Patches the import slots of the DLL loaded at `module`. Returns false
    // when the DLL imports no free() from the C library this host uses.
    static bool install(void* module);
    // Starts watching `block`: freed() is false until the DLL frees it.
    static void watch(const void* block);
    static bool freed();
};
