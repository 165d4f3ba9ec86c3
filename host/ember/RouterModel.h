#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ember {

// What the consumer knows about the matrix it follows: its signals, the
// labels of its first label set, and which sources each target is
// connected to. A plain value, copied to whoever needs it.
struct RouterModel {
    std::string matrixPath;  // "1.2.3"
    std::string matrixIdentifier;
    std::int32_t targetCount = 0;
    std::int32_t sourceCount = 0;
    // Signal numbers; for a linear matrix 0 .. count - 1.
    std::vector<std::int32_t> targets;
    std::vector<std::int32_t> sources;
    // The label set's description ("primary") and its labels by signal.
    std::string labelSet;
    std::map<std::int32_t, std::string> targetLabels;
    std::map<std::int32_t, std::string> sourceLabels;
    // Target number -> its sources (one for a one-to-N router; none when
    // the target is disconnected).
    std::map<std::int32_t, std::vector<std::uint32_t>> connections;
};

}  // namespace ember
