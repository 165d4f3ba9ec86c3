#pragma once

#include <cstdint>
#include <string>

#include "MatrixSelector.h"

namespace ember {

// Where a provider is and which of its matrices to follow, as the command
// line gives it: "HOST:PORT[,matrix=PATH]" (an IPv6 host in brackets). A
// plain value.
struct EmberEndpoint {
    std::string host;
    std::uint16_t port = 0;
    MatrixSelector matrix;

    static bool parse(const std::string& text, EmberEndpoint& out, std::string& error);
    // "HOST:PORT" or "HOST:PORT,matrix=PATH".
    std::string toString() const;
};

}  // namespace ember
