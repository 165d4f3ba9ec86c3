#pragma once

#include <string>
#include <utility>
#include <vector>

namespace panelhost {

// The header fields every answer of the host carries, whatever made it: a
// route, a static file, an error or the server's own refusal. They keep
// the host's pages out of every other page's frame (a page on another port
// of the same machine is the same site and gets the operator's session
// cookie: its invisible frame of the panels would turn the operator's
// clicks into presses), let the pages run and load nothing but the host's
// own files, keep the browser from guessing content types and from telling
// other sites the host's addresses (a one-time login link holds a secret),
// and under TLS have the browser come back over HTTPS only. Constant data;
// any thread.
class SecurityHeaders {
  public:
    using Fields = std::vector<std::pair<std::string, std::string>>;

    // How long a browser keeps to HTTPS after an answer over TLS: a year,
    // so that a tablet that is away for a season still never falls back to
    // plain HTTP, where its session cookie could be read on the way.
    static constexpr int kStrictTransportSeconds = 365 * 24 * 60 * 60;

    // The fields for an answer sent over TLS (`tls`) or plain HTTP.
    static const Fields& fields(bool tls);

    // The Content-Security-Policy of an answer that holds inline scripts
    // and style sheets, allowed by their CSP sources ('sha256-…'); the one
    // in fields() allows none.
    static std::string contentPolicy(const std::vector<std::string>& scripts,
                                     const std::vector<std::string>& styles);
};

}  // namespace panelhost
