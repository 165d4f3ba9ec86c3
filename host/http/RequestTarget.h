#pragma once

#include <string>
#include <string_view>

#include "HttpRequest.h"

namespace panelhost {

// Reads a request target ("/api/panels/1?x=y") into a request's path and
// query parameters, normalised once for everything that matches paths
// afterwards (the routes, the access check, the metrics, the web folder):
// the path is percent-decoded and must then be plain, so that it can name
// one route or none and never two in different readings. Pure: any thread.
class RequestTarget {
  public:
    // Fills request.path and request.params; on a refusal returns why and
    // leaves the request's path empty. A path is refused when it is not
    // absolute or, as sent or decoded, holds an empty segment ("//"), a "."
    // or ".." segment, a ';', a backslash, a control character, or an
    // encoded '/' ("%2F"), which would read as a segment boundary to one
    // reader and not to another. The query is decoded with '+' as a space.
    static std::string read(std::string_view target, HttpRequest& request);

    // `text` with %XX sequences decoded, and '+' as a space when `plus`; a
    // '%' not followed by two hex digits stays as it is.
    static std::string decode(std::string_view text, bool plus);

  private:
    // Why the decoded `path` is not plain; empty when it is.
    static std::string refusal(const std::string& path);
};

}  // namespace panelhost
