#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "GlowElement.h"

namespace ember {

// Decodes the Glow schema from an EmBER payload into a flat list of
// elements, parents before their children: nodes, parameters, matrices and
// commands, plain or qualified. Functions, templates, streams and
// invocation results are skipped, as are fields this consumer does not
// use. Malformed input gives false and a readable error, never an
// exception. Stateless; callable from any thread.
class GlowDecoder {
  public:
    static bool decode(const std::vector<std::uint8_t>& payload, std::vector<GlowElement>& out,
                       std::string& error);
};

}  // namespace ember
