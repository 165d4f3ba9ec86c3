#include "RouteTable.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "HttpStatus.h"
#include "JsonReply.h"

namespace panelhost {
namespace {

// The segments of `path` after its leading '/'; a trailing slash gives a
// last, empty segment.
std::vector<std::string_view> split(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty() || path.front() != '/') {
        return parts;
    }
    std::size_t start = 1;
    while (true) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::string_view::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

bool isNumber(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// HEAD reads what GET reads.
std::string_view asked(const std::string& method) {
    return method == "HEAD" ? std::string_view("GET") : std::string_view(method);
}

}  // namespace

std::vector<RouteTable::Segment> RouteTable::parse(const std::string& pattern) {
    // The root is the one pattern of an empty segment: it matches "/" alone.
    if (pattern == "/") {
        return {{Part::Literal, ""}};
    }
    std::vector<Segment> segments;
    for (const std::string_view part : split(pattern)) {
        if (part == "{n}") {
            segments.push_back({Part::Number, ""});
        } else if (part == "{name}") {
            segments.push_back({Part::Name, ""});
        } else if (part.empty() || part.find_first_of("{}") != std::string_view::npos) {
            throw std::logic_error("a malformed route pattern: " + pattern);
        } else {
            segments.push_back({Part::Literal, std::string(part)});
        }
    }
    if (segments.empty()) {
        throw std::logic_error("a route pattern must start with '/': " + pattern);
    }
    return segments;
}

bool RouteTable::overlap(const std::vector<Segment>& a, const std::vector<Segment>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const Segment& x = a[i];
        const Segment& y = b[i];
        if (x.part == Part::Literal && y.part == Part::Literal && x.text != y.text) {
            return false;
        }
        const Segment* literal = x.part == Part::Literal   ? &x
                                 : y.part == Part::Literal ? &y
                                                           : nullptr;
        const Segment* other = literal == &x ? &y : &x;
        if (literal != nullptr && other->part == Part::Number && !isNumber(literal->text)) {
            return false;
        }
    }
    return true;
}

RouteTable::RouteTable(std::vector<HttpRoute> routes) : routes_(std::move(routes)) {
    for (const HttpRoute& route : routes_) {
        if (route.method.empty() || route.method == "HEAD" || !route.handler) {
            throw std::logic_error("a route needs a method other than HEAD and a handler: " +
                                   route.pattern);
        }
        patterns_.push_back(parse(route.pattern));
    }
    for (std::size_t i = 0; i < routes_.size(); ++i) {
        for (std::size_t j = i + 1; j < routes_.size(); ++j) {
            if (routes_[i].method == routes_[j].method && overlap(patterns_[i], patterns_[j])) {
                throw std::logic_error("two routes match one path: " + routes_[i].method + " " +
                                       routes_[i].pattern + " and " + routes_[j].pattern);
            }
        }
    }
}

std::optional<RouteTable::Found> RouteTable::find(const std::string& method,
                                                  const std::string& path) const {
    const std::string_view wanted = asked(method);
    const std::vector<std::string_view> have = split(path);
    for (std::size_t i = 0; i < routes_.size(); ++i) {
        const std::vector<Segment>& want = patterns_[i];
        if (routes_[i].method != wanted || want.size() != have.size()) {
            continue;
        }
        Found found{i, &routes_[i], {path}};
        bool matched = true;
        for (std::size_t s = 0; s < want.size() && matched; ++s) {
            switch (want[s].part) {
                case Part::Literal:
                    matched = want[s].text == have[s];
                    break;
                case Part::Number:
                    matched = isNumber(have[s]);
                    break;
                case Part::Name:
                    matched = !have[s].empty();
                    break;
            }
            if (matched && want[s].part != Part::Literal) {
                found.captures.emplace_back(have[s]);
            }
        }
        if (matched) {
            return found;
        }
    }
    return std::nullopt;
}

void RouteTable::run(const Found& found, HttpRequest& request, HttpResponse& response) {
    request.matches = found.captures;
    try {
        found.route->handler(request, response);
    } catch (const std::runtime_error& error) {
        response = HttpResponse();
        reply::sendError(response, kUnavailable, error.what());
    }
}

}  // namespace panelhost
