#include "RequestTarget.h"

#include <cctype>

namespace panelhost {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = std::tolower(static_cast<unsigned char>(c));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

bool isControl(char c) {
    return static_cast<unsigned char>(c) < ' ' || c == '\x7f';
}

// Whether `raw` (as sent) encodes a '/' or a '\': after decoding it could
// no longer be told from a separator.
bool encodesSeparator(std::string_view raw) {
    for (std::size_t i = 0; i + 2 < raw.size(); ++i) {
        if (raw[i] == '%' && (raw[i + 1] == '2' || raw[i + 1] == '5')) {
            const char low =
                static_cast<char>(std::tolower(static_cast<unsigned char>(raw[i + 2])));
            if ((raw[i + 1] == '2' && low == 'f') || (raw[i + 1] == '5' && low == 'c')) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::string RequestTarget::decode(std::string_view text, bool plus) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else if (plus && text[i] == '+') {
            decoded += ' ';
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string RequestTarget::refusal(const std::string& path) {
    for (const char c : path) {
        if (isControl(c)) {
            return "the path holds a control character";
        }
        if (c == ';') {
            return "the path holds a ';'";
        }
        if (c == '\\') {
            return "the path holds a '\\'";
        }
    }
    // Segments between the slashes; the path starts with one.
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        const std::string_view segment(path.data() + start, end - start);
        if (segment.empty() && slash != std::string::npos) {
            return "the path holds an empty segment (\"//\")";
        }
        if (segment == "." || segment == "..") {
            return "the path holds a \"" + std::string(segment) + "\" segment";
        }
        start = end + 1;
    }
    return "";
}

std::string RequestTarget::read(std::string_view target, HttpRequest& request) {
    request.path.clear();
    request.params.clear();
    if (target.empty() || target.front() != '/') {
        return "the target is not a path";
    }
    const std::size_t question = target.find('?');
    const std::string_view raw = target.substr(0, question);
    if (encodesSeparator(raw)) {
        return "the path holds an encoded '/' or '\\'";
    }
    std::string path = decode(raw, false);
    if (std::string why = refusal(path); !why.empty()) {
        return why;
    }
    request.path = std::move(path);
    if (question == std::string_view::npos) {
        return "";
    }
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (!pair.empty()) {
            const std::size_t equals = pair.find('=');
            request.params.emplace_back(
                decode(pair.substr(0, equals), true),
                equals == std::string_view::npos ? "" : decode(pair.substr(equals + 1), true));
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return "";
}

}  // namespace panelhost
