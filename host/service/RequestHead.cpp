#include "RequestHead.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

namespace panelhost {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = std::tolower(static_cast<unsigned char>(c));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// `text` with %XX sequences decoded, and '+' as a space when `plus`; a '%'
// not followed by two hex digits stays as it is.
std::string decode(std::string_view text, bool plus) {
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

// Fills the path and parameters of `request` from a request target; false
// for a target that is not a path.
bool parseTarget(std::string_view target, HttpRequest& request) {
    if (target.empty() || target.front() != '/') {
        return false;
    }
    const std::size_t question = target.find('?');
    request.path = decode(target.substr(0, question), false);
    if (question == std::string_view::npos) {
        return true;
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
    return true;
}

bool isHost(const std::string& name) {
    static constexpr std::string_view kHost = "host";
    return name.size() == kHost.size() &&
           std::equal(name.begin(), name.end(), kHost.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

}  // namespace

bool RequestHead::fill(std::string_view method, std::string_view target, HttpRequest::Fields fields,
                       HttpRequest& request) {
    request.method = std::string(method);
    request.headers = std::move(fields);
    // The path first: a refusal of the Host fields still answers an API
    // path with a JSON error.
    if (!parseTarget(target, request)) {
        return false;
    }
    const auto hosts = std::count_if(request.headers.begin(), request.headers.end(),
                                     [](const auto& field) { return isHost(field.first); });
    return hosts <= 1;
}

}  // namespace panelhost
