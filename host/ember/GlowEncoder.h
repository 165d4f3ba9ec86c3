#pragma once

#include <cstdint>
#include <vector>

#include "GlowElement.h"

namespace ember {

// Encodes the requests a consumer sends, as EmBER payloads: a command on
// the root (empty path) or on the element at `path`, addressed as a
// qualified element of `kind` (Node, Parameter or Matrix). A GetDirectory
// asks for all fields. Stateless; callable from any thread.
class GlowEncoder {
  public:
    static std::vector<std::uint8_t> command(GlowCommandType type, GlowKind kind,
                                             const GlowPath& path);
};

}  // namespace ember
