#pragma once

#include <optional>
#include <string>
#include <vector>

namespace panelhost {

// The parts of a request the guard looks at, as they came: the method and
// the Host, Origin and Content-Type headers (nothing when absent).
struct GuardedRequest {
    std::string method;
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> contentType;
};

// What the guard decided: allowed, or refused with an HTTP status and a
// message for the JSON error and the log.
struct GuardVerdict {
    int status = 0;
    std::string message;

    bool allowed() const { return status == 0; }
};

// Refuses requests that come from elsewhere than this host's own pages and
// clients, before any route runs:
// - a Host that is not one of the host's names (421): the bound address,
//   `localhost` and the loopback addresses when bound to loopback or to all
//   addresses, any address literal when bound to all addresses, and the
//   names given with --allow-host, each at the served port (a name given as
//   NAME:PORT at that port instead). This defeats DNS rebinding: a page that
//   points its own name at this host still sends its own name as Host.
// - a request that changes something (any method but GET, HEAD and
//   OPTIONS) without Content-Type application/json (403), which a page of
//   another site cannot send without the browser asking first, or with an
//   Origin other than the host's own as the client addressed it (403).
// Pure: no I/O, no clock. Immutable after construction, so any thread may
// call check().
class RequestGuard {
  public:
    // `bind`: the address served on; `port`: the port served; `allowHosts`:
    // NAME or NAME:PORT each; `tls`: served over HTTPS. Throws
    // std::invalid_argument for an allowed host that is not a host name.
    RequestGuard(const std::string& bind, int port, const std::vector<std::string>& allowHosts,
                 bool tls = false);

    GuardVerdict check(const GuardedRequest& request) const;

    // Whether `address` (an address literal or `localhost`) reaches this
    // machine only: 127.0.0.0/8, ::1, ::ffff:127.0.0.0/104.
    static bool isLoopbackAddress(const std::string& address);
    // Whether a request with `method` changes something.
    static bool changes(const std::string& method);

  private:
    struct Name {
        std::string host;
        int port;
    };

    bool knownHost(const std::string& host, int port) const;

    std::string scheme_;
    int port_;
    bool anyAddress_ = false;
    std::vector<Name> names_;
};

}  // namespace panelhost
