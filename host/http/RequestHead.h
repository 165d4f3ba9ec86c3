#pragma once

#include <string_view>

#include "HttpRequest.h"

namespace panelhost {

// Turns the head of a request, as the server read it, into an HttpRequest
// for the routes. Text work only; any thread.
class RequestHead {
  public:
    // Fills the method, the header fields (in their order), the path and the
    // query parameters of `request` (see RequestTarget). False for a head
    // that no route may see: a target that RequestTarget refuses (not a
    // path, or a path that is not plain), or more than one Host field, of which the access check would judge one
    // while a proxy or a cache may take another for where the request goes.
    static bool fill(std::string_view method, std::string_view target, HttpRequest::Fields fields,
                     HttpRequest& request);
};

}  // namespace panelhost
