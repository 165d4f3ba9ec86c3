#pragma once

#include <string>
#include <vector>

#include "GlowElement.h"

namespace ember {

// Which matrix of a provider to follow: the one at a numeric path ("1.2.3"),
// the one at a path of identifiers ("router.matrix"), or, when empty, the
// first one a breadth-first walk of the tree finds. A plain value.
class MatrixSelector {
  public:
    MatrixSelector() = default;
    // Empty text selects the first matrix.
    static bool parse(const std::string& text, MatrixSelector& out, std::string& error);

    // Whether the walk needs to look inside the node at `path`, whose
    // ancestors' and own identifiers are `identifiers`.
    bool mayContain(const GlowPath& path, const std::vector<std::string>& identifiers) const;
    bool matches(const GlowPath& path, const std::vector<std::string>& identifiers) const;
    std::string toString() const { return text_; }

  private:
    std::string text_;
    GlowPath numbers_;
    std::vector<std::string> identifiers_;
};

}  // namespace ember
