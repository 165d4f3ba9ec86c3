#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ember {

// The numbers from the root to an element, as a RELATIVE-OID carries them.
using GlowPath = std::vector<std::uint32_t>;

// "1.2.3" for a path; "" for the root.
std::string pathText(const GlowPath& path);

// A parameter's value; std::monostate is the null value.
using GlowValue = std::variant<std::monostate, std::int64_t, double, std::string, bool,
                               std::vector<std::uint8_t>>;

enum class GlowKind { Node, Parameter, Matrix, Command };

enum class GlowCommandType : std::int32_t { Subscribe = 30, Unsubscribe = 31, GetDirectory = 32 };

// A label set of a matrix: the node holding its target and source labels.
struct GlowLabel {
    GlowPath basePath;
    std::string description;
};

// One target's sources, and what the provider says about them.
struct GlowConnection {
    enum class Operation : std::int32_t { Absolute = 0, Connect = 1, Disconnect = 2 };
    enum class Disposition : std::int32_t { Tally = 0, Modified = 1, Pending = 2, Locked = 3 };

    std::int32_t target = 0;
    std::vector<std::uint32_t> sources;
    Operation operation = Operation::Absolute;
    Disposition disposition = Disposition::Tally;
};

// The matrix fields a consumer of a router reads.
struct GlowMatrixContents {
    std::int32_t type = 0;            // 0 one-to-N, 1 one-to-one, 2 N-to-N
    std::int32_t addressingMode = 0;  // 0 linear, 1 non-linear
    std::int32_t targetCount = 0;
    std::int32_t sourceCount = 0;
    std::vector<GlowLabel> labels;
};

// One decoded element with its absolute path, whether it came qualified or
// nested in its parents. Fields a message did not carry are empty.
struct GlowElement {
    GlowKind kind = GlowKind::Node;
    GlowPath path;
    std::optional<std::string> identifier;
    std::optional<std::string> description;
    std::optional<bool> isOnline;
    // Parameter.
    std::optional<GlowValue> value;
    // Matrix.
    std::optional<GlowMatrixContents> matrix;
    std::optional<std::vector<std::int32_t>> targets;
    std::optional<std::vector<std::int32_t>> sources;
    std::optional<std::vector<GlowConnection>> connections;
    // Command; `path` is the element it applies to.
    std::int32_t command = 0;
};

}  // namespace ember
