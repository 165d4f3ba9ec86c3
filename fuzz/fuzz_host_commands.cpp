// The host's command interpreter: arbitrary lines from a script (every
// command word, apostrophes inside fields, malformed lines) against real
// devices, layouts, timers and answer bookkeeping; a broken promise aborts
// with its text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "CommandRig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static panelhost::CommandRig rig;
    const std::vector<std::string> violations =
        rig.run(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!violations.empty()) {
        std::fprintf(stderr, "invariant violated: %s\n", violations.front().c_str());
        __builtin_trap();
    }
    return 0;
}
