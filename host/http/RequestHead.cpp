#include "RequestHead.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "RequestTarget.h"

namespace panelhost {
namespace {

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
    if (!RequestTarget::read(target, request).empty()) {
        return false;
    }
    const auto hosts = std::count_if(request.headers.begin(), request.headers.end(),
                                     [](const auto& field) { return isHost(field.first); });
    return hosts <= 1;
}

}  // namespace panelhost
