#include "FreeWatch.h"

#include "Runtime.h"

namespace {
// Offsets in a 32-bit PE image: the NT headers' offset in the DOS header,
// and the import directory's address in the PE32 optional header (data
// directory 1, after the 4-byte signature and the 20-byte file header).
constexpr unsigned kNtHeadersOffset = 0x3C;
constexpr unsigned kImportDirectory = 4 + 20 + 96 + 8;
// An import descriptor: five 32-bit words, the name at 12, the slots at 16.
constexpr unsigned kDescriptorBytes = 20;
constexpr unsigned kDescriptorName = 12;
constexpr unsigned kDescriptorSlots = 16;

const void* gWatched = nullptr;
bool gFreed = false;

unsigned word(const char* address) {
    unsigned value = 0;
    memcpy(&value, address, sizeof value);
    return value;
}

void __cdecl watchingFree(void* block) {
    if (block != nullptr && block == gWatched) {
        gFreed = true;
    }
    free(block);
}
}  // namespace

bool FreeWatch::install(void* module) {
    char* const image = static_cast<char*>(module);
    const char* const ntHeaders = image + word(image + kNtHeadersOffset);
    const unsigned imports = word(ntHeaders + kImportDirectory);
    // The address the C library's free() has in this process: the DLL's
    // slot holds the same one when it imports free() from msvcrt.dll too.
    const unsigned libraryFree = reinterpret_cast<unsigned>(&free);
    const unsigned replacement = reinterpret_cast<unsigned>(&watchingFree);
    bool patched = false;
    for (const char* descriptor = image + imports;
         imports != 0 && word(descriptor + kDescriptorName) != 0; descriptor += kDescriptorBytes) {
        for (char* slot = image + word(descriptor + kDescriptorSlots); word(slot) != 0;
             slot += sizeof(unsigned)) {
            if (word(slot) != libraryFree) {
                continue;
            }
            unsigned long oldProtection = 0;
            VirtualProtect(slot, sizeof(unsigned), kPageReadWrite, &oldProtection);
            memcpy(slot, &replacement, sizeof replacement);
            VirtualProtect(slot, sizeof(unsigned), oldProtection, &oldProtection);
            patched = true;
        }
    }
    return patched;
}

void FreeWatch::watch(const void* block) {
    gWatched = block;
    gFreed = false;
}

bool FreeWatch::freed() {
    return gFreed;
}
