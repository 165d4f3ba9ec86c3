#include "tovi_debug_output.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdio>
#endif

namespace {
tovi_debug_sink gSink = nullptr;
void* gContext = nullptr;
}  // namespace

void tovi_set_debug_sink(tovi_debug_sink sink, void* context) noexcept {
    gSink = sink;
    gContext = context;
}

void tovi_debug_write(const char* text) noexcept {
    if (gSink != nullptr) {
        gSink(text, gContext);
        return;
    }
#if defined(_WIN32)
    OutputDebugStringA(text);
#else
    std::fputs(text, stderr);
    std::fflush(stderr);
#endif
}
