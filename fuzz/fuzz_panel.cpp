// The whole panel: operator and studio events decoded from the input, every
// line checked against the invariants; a violation aborts with its text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "PanelExerciser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> violations = PanelExerciser::run(data, size);
    if (!violations.empty()) {
        std::fprintf(stderr, "invariant violated: %s\n", violations.front().c_str());
        __builtin_trap();
    }
    return 0;
}
