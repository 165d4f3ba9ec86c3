#pragma once

#include <initializer_list>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "JsonReply.h"

namespace panelhost {

// The routes of one class of handlers: a method, a path pattern and the
// member function that answers. The table holds no handler object; the
// caller passes it to dispatch() and keeps it alive for the call. Immutable
// after construction, so any thread may dispatch.
template <typename Owner>
class RouteTable {
  public:
    using Handler = void (Owner::*)(const HttpRequest&, HttpResponse&);

    struct Route {
        std::string method;
        std::regex path;
        Handler handler;
    };

    RouteTable(std::initializer_list<Route> routes) : routes_(routes) {}

    // Runs on `owner` the handler of the first route whose method is
    // `method` (the request's, HEAD given as GET) and whose pattern matches
    // the whole path, with the pattern's groups in request.matches, and
    // returns true. A std::runtime_error out of the handler (the engine or
    // the store cannot answer now) becomes a 503 with a JSON error in place
    // of whatever the handler had put into `response`. Returns false with
    // `response` untouched when no route matches.
    bool dispatch(Owner& owner, HttpRequest& request, const std::string& method,
                  HttpResponse& response) const {
        for (const Route& route : routes_) {
            std::smatch found;
            if (route.method != method || !std::regex_match(request.path, found, route.path)) {
                continue;
            }
            request.matches.assign(found.begin(), found.end());
            try {
                (owner.*route.handler)(request, response);
            } catch (const std::runtime_error& error) {
                response = HttpResponse();
                reply::sendError(response, kUnavailable, error.what());
            }
            return true;
        }
        return false;
    }

  private:
    static constexpr int kUnavailable = 503;

    std::vector<Route> routes_;
};

}  // namespace panelhost
