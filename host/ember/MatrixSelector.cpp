#include "MatrixSelector.h"

#include <algorithm>
#include <cctype>

namespace ember {
namespace {

// Element numbers are Integer32: nine digits always fit, ten may not.
constexpr std::size_t kMaxNumberDigits = 9;

}  // namespace

bool MatrixSelector::parse(const std::string& text, MatrixSelector& out, std::string& error) {
    out = MatrixSelector();
    out.text_ = text;
    if (text.empty()) {
        return true;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        parts.push_back(
            text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    if (std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); })) {
        error = "matrix path '" + text + "' has an empty part";
        return false;
    }
    const bool numeric = std::all_of(parts.begin(), parts.end(), [](const std::string& p) {
        return p.size() <= kMaxNumberDigits &&
               std::all_of(p.begin(), p.end(), [](char c) { return std::isdigit(c) != 0; });
    });
    if (!numeric) {
        out.identifiers_ = parts;
        return true;
    }
    for (const std::string& p : parts) {
        out.numbers_.push_back(static_cast<std::uint32_t>(std::stoul(p)));
    }
    return true;
}

bool MatrixSelector::mayContain(const GlowPath& path,
                                const std::vector<std::string>& identifiers) const {
    if (!numbers_.empty()) {
        return path.size() < numbers_.size() &&
               std::equal(path.begin(), path.end(), numbers_.begin());
    }
    if (!identifiers_.empty()) {
        return identifiers.size() < identifiers_.size() &&
               std::equal(identifiers.begin(), identifiers.end(), identifiers_.begin());
    }
    return true;
}

bool MatrixSelector::matches(const GlowPath& path,
                             const std::vector<std::string>& identifiers) const {
    if (!numbers_.empty()) {
        return path == numbers_;
    }
    if (!identifiers_.empty()) {
        return identifiers == identifiers_;
    }
    return true;
}

}  // namespace ember
