#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "Role.h"

namespace panelhost {

// Who may make the requests of a route: anyone, or a client holding at
// least the role.
using RouteAccess = std::optional<Role>;
// Open to anyone, logged in or not: only for routes that hold no studio
// data and change nothing but the caller's own login.
inline constexpr RouteAccess kAnyone = std::nullopt;

// One route of the HTTP host, declared once: the access check, the
// dispatch and the metrics all read this declaration, so they cannot
// disagree about a path.
struct HttpRoute {
    using Handler = std::function<void(HttpRequest&, HttpResponse&)>;

    // As sent ("GET", "PUT", ...); a GET route answers HEAD as well.
    std::string method;
    // Segments between slashes: a literal, "{n}" (a decimal number) or
    // "{name}" (any one non-empty segment). The metrics count the route
    // under this pattern, never the raw path.
    std::string pattern;
    RouteAccess least;
    Handler handler;
    // The handler answers from memory without waiting on anything (a
    // snapshot, the request itself): the server may run it on its I/O
    // thread (HttpService::respondAtOnce).
    bool atOnce = false;
};

// Every route of the host. A request's path, normalised once by
// RequestTarget, names exactly one route or none; there is no prefix
// matching, so a path that is not exactly a route (a trailing slash, other
// case) reaches no handler. Immutable after construction: any thread may
// find and run routes at once; the handlers' objects must outlive the
// table.
class RouteTable {
  public:
    struct Found {
        // Index in routes(), for counting by route.
        std::size_t index;
        const HttpRoute* route;
        // [0] the whole path, then each placeholder's segment in order.
        std::vector<std::string> captures;
    };

    // Throws std::logic_error for a malformed pattern or for two routes of
    // one method that some path would match both.
    explicit RouteTable(std::vector<HttpRoute> routes);

    // The route for `method` (HEAD read as GET) and `path`; nothing when no
    // route names the request.
    std::optional<Found> find(const std::string& method, const std::string& path) const;

    // Runs the route's handler with the captures in request.matches. A
    // std::runtime_error out of the handler (the engine or the store cannot
    // answer now) becomes a 503 with a JSON error in place of whatever the
    // handler had put into `response`.
    static void run(const Found& found, HttpRequest& request, HttpResponse& response);

    const std::vector<HttpRoute>& routes() const { return routes_; }

  private:
    enum class Part { Literal, Number, Name };
    struct Segment {
        Part part;
        std::string text;
    };

    static std::vector<Segment> parse(const std::string& pattern);
    // Whether some path matches both patterns.
    static bool overlap(const std::vector<Segment>& a, const std::vector<Segment>& b);

    std::vector<HttpRoute> routes_;
    std::vector<std::vector<Segment>> patterns_;
};

}  // namespace panelhost
