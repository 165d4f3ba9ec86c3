#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace panelhost {

// The answer to one HTTP request as a route makes it; the server turns it
// into bytes. Plain data, filled on one thread.
struct HttpResponse {
    int status = 200;
    // Empty: no Content-Type.
    std::string contentType;
    std::string body;
    // A body shared with what made it (one of a snapshot's answers), sent
    // as it is, without a copy, and kept alive until it is sent; when set,
    // `body` is not sent.
    std::shared_ptr<const std::string> sharedBody;
    // Further header fields, e.g. {"Retry-After", "5"}. The server sets
    // SecurityHeaders' fields over any of the same name.
    std::vector<std::pair<std::string, std::string>> headers;
    // The CSP sources ('sha256-…') of the inline scripts and style sheets
    // of a page: its Content-Security-Policy allows these and no other.
    std::vector<std::string> inlineScripts;
    std::vector<std::string> inlineStyles;
    // The connection is closed after this answer.
    bool close = false;
    // The connection becomes an event stream: the server sends the head of
    // this answer without a length and then every text it broadcasts.
    bool eventStream = false;
    // For an event stream (may be empty): its first message, asked for on
    // the server's I/O thread at the moment the stream joins the broadcast,
    // so that what is broadcast later follows it with nothing in between.
    std::function<std::string()> streamStart;
};

}  // namespace panelhost
