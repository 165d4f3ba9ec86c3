#include "HttpApi.h"

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "HistoryJson.h"
#include "HttpStatus.h"
#include "JsonReply.h"
#include "JsonText.h"
#include "LogEntryJson.h"
#include "PrometheusText.h"
#include "StreamStartText.h"

namespace panelhost {
namespace {

using nlohmann::json;

using namespace reply;

// Answers `found`, or 404 saying `missing` when nothing was found.
void sendFound(HttpResponse& response, const std::optional<json>& found,
               const std::string& missing) {
    if (found) {
        sendJson(response, *found);
    } else {
        sendError(response, kNotFound, missing);
    }
}

// Answers `body` with what was found under `key`, or 404 saying `missing`
// when nothing was found.
template <typename Value>
void sendFound(HttpResponse& response, const std::optional<Value>& found, json body,
               const char* key, const std::string& missing) {
    if (found) {
        body[key] = *found;
    }
    sendFound(response, found ? std::optional<json>(std::move(body)) : std::nullopt, missing);
}

// What a PUT of a name or a slot carries: the route's numbers, the new text
// and who writes it.
template <std::size_t count>
struct TextWrite {
    std::array<int, count> path;
    std::string text;
    std::string who;
};

// The write a PUT asks for; nothing when the request has been answered with
// an error.
template <std::size_t count>
std::optional<TextWrite<count>> textWrite(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<count>(request, response);
    const std::optional<json> body = path ? bodyWith(request, {"text"}, response) : std::nullopt;
    if (!body) {
        return std::nullopt;
    }
    return TextWrite<count>{*path, (*body)["text"], request.who()};
}

// A history entry with the batch it belongs to and the entry it restores.
json historyJson(const HistoryEntry& entry) {
    json result = historyEntryJson(entry);
    result["batch"] = entry.batch == 0 ? json(nullptr)
                                       : json{{"id", entry.batch},
                                              {"kind", entry.batchKind},
                                              {"what", entry.batchWhat},
                                              {"size", entry.batchSize}};
    result["restores"] = entry.restores == 0 ? json(nullptr) : json(entry.restores);
    return result;
}

// The error text of an answer the server made itself.
std::string refusal(const HttpRequest& request, int status) {
    switch (status) {
        case kLengthRequired:
            return "a body must be sent with its length, not in chunks";
        case kPayloadTooLarge:
            return "the body is longer than " + std::to_string(HttpApi::kLongestBody) + " bytes";
        case kHeadTooLarge:
            return "the request's head is too long";
        case kBadRequest:
            return "a malformed request";
        case kServerError:
            return "the request failed";
        case kUnavailable:
            return "too many event streams are open; try again later";
        default:
            return "no such resource: " + request.method + " " + request.path;
    }
}

}  // namespace

HttpApi::HttpApi(EngineThread& engine, EventLog& log, HttpAccess& access,
                 const std::filesystem::path& webRoot, const DisplayOutput* displays,
                 ServiceMetrics* metrics)
    : web_(webRoot, log),
      nameSets_(engine, log),
      engine_(engine),
      access_(access),
      log_(log),
      displays_(displays),
      metrics_(metrics),
      routes_(declare()) {
    if (metrics_ != nullptr) {
        std::vector<ServiceMetrics::RouteName> names;
        for (const HttpRoute& route : routes_.routes()) {
            names.push_back({route.method, route.pattern});
        }
        metrics_->declareRoutes(std::move(names));
    }
    engine_.publishWith([this](const HostEngine& current) { publish(current); });
}

HttpApi::~HttpApi() {
    try {
        engine_.publishWith(nullptr);
    } catch (const std::runtime_error&) {
        // The engine thread was stopped: it publishes nothing more.
    }
}

void HttpApi::publish(const HostEngine& engine) noexcept {
    try {
        // On the engine thread every change the snapshot shows so far is in
        // the engine's state; those of other threads (the log) it does not
        // show.
        const long long through = engine.changeCount();
        last_ = ApiSnapshot::take(engine, last_.get());
        snapshot_.publish(last_);
        fence_.reached(through);
    } catch (const std::exception& error) {
        // Reads go on answering the last snapshot: stale, so said loudly.
        log_.add(0, "error",
                 std::string("the API's reads could not be brought up to date: ") + error.what());
    }
}

std::vector<HttpRoute> HttpApi::declare() {
    const auto on = [this](void (HttpApi::*handler)(const Request&, Response&)) {
        return [this, handler](HttpRequest& request, HttpResponse& response) {
            (this->*handler)(request, response);
        };
    };
    // The reads from the snapshot, answered on the I/O thread.
    constexpr bool kAtOnce = true;
    std::vector<HttpRoute> routes = {
        {"GET", "/api/panels", Role::Viewer, on(&HttpApi::panels), kAtOnce},
        {"GET", "/api/panels/{n}", Role::Viewer, on(&HttpApi::panel), kAtOnce},
        {"POST", "/api/panels/{n}/events", Role::Operator, on(&HttpApi::controlEvent)},
        {"POST", "/api/panels/{n}/messages", Role::Operator, on(&HttpApi::hostMessage)},
        {"GET", "/api/devices", Role::Viewer, on(&HttpApi::devices), kAtOnce},
        {"GET", "/api/devices/{n}", Role::Viewer, on(&HttpApi::device), kAtOnce},
        {"GET", "/api/devices/{n}/databases/{n}", Role::Viewer, on(&HttpApi::database), kAtOnce},
        {"GET", "/api/devices/{n}/databases/{n}/{n}", Role::Viewer, on(&HttpApi::readName),
         kAtOnce},
        {"PUT", "/api/devices/{n}/databases/{n}/{n}", Role::Engineer, on(&HttpApi::writeName)},
        {"GET", "/api/devices/{n}/slots", Role::Viewer, on(&HttpApi::slots), kAtOnce},
        {"GET", "/api/devices/{n}/slots/{n}", Role::Viewer, on(&HttpApi::readSlot), kAtOnce},
        {"PUT", "/api/devices/{n}/slots/{n}", Role::Engineer, on(&HttpApi::writeSlot)},
        {"GET", "/api/log", Role::Viewer, on(&HttpApi::logEntries)},
        {"GET", "/api/history", Role::Viewer, on(&HttpApi::history)},
        // The panels page is open to anyone, as the front end's files are;
        // only a signed-in client gets its first view's state in it.
        {"GET", "/", kAnyone, on(&HttpApi::panelsPage)},
        {"GET", "/api/stream", Role::Viewer, on(&HttpApi::stream)},
        {"GET", "/api/wall", Role::Viewer, on(&HttpApi::wall), kAtOnce},
        {"GET", "/api/tsl", Role::Viewer, on(&HttpApi::displayOutput)},
        // Service monitoring: whether the host is up answers anyone; the
        // metrics name targets and counts, so they need a viewer.
        {"GET", "/healthz", kAnyone, on(&HttpApi::health)},
        {"GET", "/metrics", Role::Viewer, on(&HttpApi::metricsPage)},
    };
    for (auto&& route : nameSets_.routes()) {
        routes.push_back(std::move(route));
    }
    const HttpRoute::Handler loginPage = [this](HttpRequest& request, HttpResponse& response) {
        web_.serve(std::string(kLoginPage) + ".html", request.headers, response);
    };
    for (auto&& route : access_.routes(loginPage)) {
        routes.push_back(std::move(route));
    }
    return routes;
}

RouteAccess HttpApi::unroutedAccess(const std::string& method, const std::string& path) {
    // The front end's files hold no data: reading them is open. Anything
    // else no route names is closed to all but the roles that could see
    // that it does not exist: a viewer for a read under /api/, an admin
    // for any other method.
    if (method == "GET" && !isApiPath(path)) {
        return kAnyone;
    }
    return method == "GET" ? Role::Viewer : Role::Admin;
}

bool HttpApi::isApiPath(const std::string& path) {
    return path == "/api" || path.rfind("/api/", 0) == 0;
}

void HttpApi::respond(HttpRequest& request, HttpResponse& response) {
    // A HEAD is answered as its GET; the server leaves the body out.
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    const std::optional<RouteTable::Found> found = routes_.find(method, request.path);
    const bool webFile = !found && method == "GET" && !isApiPath(request.path);
    const ServiceMetrics::RequestMeter meter(
        metrics_,
        found ? found->index
              : routes_.routes().size() +
                    (webFile ? ServiceMetrics::kWebFilesRoute : ServiceMetrics::kUnmatchedRoute),
        response);
    const RouteAccess least = found ? found->route->least : unroutedAccess(method, request.path);
    if (!access_.admit(request, least, response)) {
        return;
    }
    if (found) {
        RouteTable::run(*found, request, response);
    } else if (webFile) {
        web_.serve(request.path, request.headers, response);
    } else {
        refuse(request, kNotFound, response);
    }
}

bool HttpApi::respondAtOnce(HttpRequest& request, HttpResponse& response) {
    if (request.method != "GET" && request.method != "HEAD") {
        return false;
    }
    const std::optional<RouteTable::Found> found = routes_.find("GET", request.path);
    if (!found || !found->route->atOnce) {
        return false;
    }
    const std::optional<bool> admitted =
        access_.admitFromMemory(request, found->route->least, response);
    if (!admitted) {
        return false;
    }
    const ServiceMetrics::RequestMeter meter(metrics_, found->index, response);
    if (*admitted) {
        RouteTable::run(*found, request, response);
    }
    return true;
}

void HttpApi::refuse(const HttpRequest& request, int status, HttpResponse& response) {
    response.status = status;
    if (isApiPath(request.path)) {
        sendError(response, status, refusal(request, status));
    }
    if (status == kLengthRequired || status == kPayloadTooLarge) {
        // The unread body must not be taken for the next request.
        response.close = true;
    }
}

void HttpApi::panels(const Request&, Response& response) {
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    sendJsonText(response, shown, shown->panelsBody());
}

void HttpApi::panel(const Request& request, Response& response) {
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const int id = (*path)[0];
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    if (const ApiSnapshot::Panel* instance = shown->panel(id)) {
        sendJsonText(response, shown, instance->body);
    } else {
        sendError(response, kNotFound, "there is no panel instance " + std::to_string(id));
    }
}

void HttpApi::controlEvent(const Request& request, Response& response) {
    const auto path = pathNumbers<1>(request, response);
    const std::optional<json> body =
        path ? bodyWith(request, {"panel", "control", "event"}, response) : std::nullopt;
    if (!body) {
        return;
    }
    const int id = (*path)[0];
    const HostResult result = engine_.call([&](HostEngine& engine) {
        return engine.controlEvent(id, (*body)["panel"], (*body)["control"], (*body)["event"],
                                   request.who());
    });
    sendResult(response, result, {{"delivered", true}});
}

void HttpApi::hostMessage(const Request& request, Response& response) {
    const auto path = pathNumbers<1>(request, response);
    const std::optional<json> body = path ? bodyWith(request, {"text"}, response) : std::nullopt;
    if (!body) {
        return;
    }
    const int id = (*path)[0];
    std::optional<std::string> answer;
    const HostResult result = engine_.call([&](HostEngine& engine) {
        return engine.hostMessage(id, (*body)["text"], answer, request.who());
    });
    sendResult(response, result, {{"answer", answer ? json(*answer) : json(nullptr)}});
}

void HttpApi::wall(const Request&, Response& response) {
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    sendJsonText(response, shown, shown->wallBody());
}

void HttpApi::displayOutput(const Request&, Response& response) {
    json status = displays_ == nullptr ? json{{"enabled", false}} : displays_->statusJson();
    // The router the displays may follow, and whether it is reachable.
    status["router"] = snapshot()->router();
    sendJson(response, status);
}

void HttpApi::health(const Request&, Response& response) {
    // Ready once the engine takes work; a stopped engine throws, which
    // respond() turns into 503.
    const bool ready = engine_.call([](HostEngine&) { return true; });
    json health{{"status", "up"}, {"ready", ready}};
    // Still 200 while the database is away: the host serves its panels and
    // reads from memory, and a balancer should not take it out. Open to
    // anyone, so the reason names no server (the log and /metrics do).
    if (store_ != nullptr && store_->state().away) {
        health["status"] = "degraded";
        health["reason"] =
            "the database cannot be reached: writes are refused, reads are served from memory";
    }
    sendJson(response, health);
}

void HttpApi::metricsPage(const Request& request, Response& response) {
    if (metrics_ == nullptr) {
        refuse(request, kNotFound, response);
        return;
    }
    response.contentType = PrometheusText::kContentType;
    response.body = metrics_->page(engine_, displays_);
}

void HttpApi::devices(const Request&, Response& response) {
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    sendJsonText(response, shown, shown->devicesBody());
}

void HttpApi::device(const Request& request, Response& response) {
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    if (const std::string* device = shown->deviceBody(number)) {
        sendJsonText(response, shown, *device);
    } else {
        sendError(response, kNotFound, "there is no device " + std::to_string(number));
    }
}

void HttpApi::database(const Request& request, Response& response) {
    const auto path = pathNumbers<2>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const int db = (*path)[1];
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    if (const ApiSnapshot::NameSet* set = shown->nameSet(number, db)) {
        sendJsonText(response, shown, set->body);
    } else {
        sendError(response, kNotFound,
                  "device " + std::to_string(number) + " has no database " + std::to_string(db));
    }
}

void HttpApi::readName(const Request& request, Response& response) {
    const auto path = pathNumbers<3>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const int db = (*path)[1];
    const int index = (*path)[2];
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    const ApiSnapshot::NameSet* set = shown->nameSet(number, db);
    std::optional<std::string> text;
    if (set != nullptr && index >= 1 && index <= static_cast<int>(set->names.size())) {
        text = set->names[static_cast<std::size_t>(index - 1)];
    }
    sendFound(response, text, {{"device", number}, {"database", db}, {"index", index}}, "text",
              "device " + std::to_string(number) + " has no entry " + std::to_string(index) +
                  " in database " + std::to_string(db));
}

void HttpApi::writeName(const Request& request, Response& response) {
    const auto write = textWrite<3>(request, response);
    if (!write) {
        return;
    }
    const int number = write->path[0];
    const int db = write->path[1];
    const int index = write->path[2];
    const HostResult result = engine_.call([&](HostEngine& engine) {
        return engine.writeName(write->who, number, db, index, write->text);
    });
    sendResult(response, result,
               {{"device", number}, {"database", db}, {"index", index}, {"text", write->text}});
}

void HttpApi::slots(const Request& request, Response& response) {
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    if (const ApiSnapshot::SlotTable* table = shown->slotTable(number)) {
        sendJsonText(response, shown, table->body);
    } else {
        sendError(response, kNotFound, "device " + std::to_string(number) + " has no slots");
    }
}

void HttpApi::readSlot(const Request& request, Response& response) {
    const auto path = pathNumbers<2>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const int index = (*path)[1];
    const std::shared_ptr<const ApiSnapshot> shown = snapshot();
    const ApiSnapshot::SlotTable* table = shown->slotTable(number);
    const std::optional<std::string> text = table == nullptr ? std::nullopt : table->text(index);
    sendFound(response, text, {{"device", number}, {"index", index}}, "text",
              "device " + std::to_string(number) + " has no slot " + std::to_string(index));
}

void HttpApi::writeSlot(const Request& request, Response& response) {
    const auto write = textWrite<2>(request, response);
    if (!write) {
        return;
    }
    const int number = write->path[0];
    const int index = write->path[1];
    const HostResult result = engine_.call([&](HostEngine& engine) {
        return engine.writeSlot(write->who, number, index, write->text);
    });
    sendResult(response, result, {{"device", number}, {"index", index}, {"text", write->text}});
}

void HttpApi::logEntries(const Request& request, Response& response) {
    const std::optional<long long> since = queryNumber(request, "since", 0, response);
    const std::optional<long long> limit =
        since ? queryNumber(request, "limit", kLogPage, response) : std::nullopt;
    if (!limit) {
        return;
    }
    if (*limit < 1 || *limit > static_cast<long long>(kLogPage)) {
        sendError(response, kBadRequest, "limit must lie in 1..10000");
        return;
    }
    json entries = json::array();
    long long last = *since;
    for (const LogEntry& entry : log_.since(*since, static_cast<std::size_t>(*limit))) {
        entries.push_back(logEntryJson(entry));
        last = entry.sequence;
    }
    sendJson(response, {{"entries", entries}, {"last", last}});
}

void HttpApi::history(const Request& request, Response& response) {
    HistoryQuery query;
    const std::optional<long long> limit = queryNumber(request, "limit", 100, response);
    const std::optional<long long> before =
        limit ? queryNumber(request, "before", 0, response) : std::nullopt;
    const std::optional<long long> device =
        before ? queryNumber(request, "device", 0, response) : std::nullopt;
    const std::optional<long long> db =
        device ? queryNumber(request, "database", -1, response) : std::nullopt;
    const std::optional<long long> index =
        db ? queryNumber(request, "index", -1, response) : std::nullopt;
    if (!index) {
        return;
    }
    if (*limit < 1 || *limit > kHistoryPage) {
        sendError(response, kBadRequest, "limit must lie in 1..1000");
        return;
    }
    query.limit = static_cast<int>(*limit);
    query.before = *before;
    if (*db >= 0) {
        query.database = static_cast<int>(*db);
    }
    if (*index >= 0) {
        query.index = static_cast<int>(*index);
    }
    // A failed read is caught on the engine thread and handed over as text:
    // an exception object shared between threads is freed by whichever
    // thread lets go of it last, which the thread checker cannot follow.
    std::string failure;
    int failureStatus = kServerError;
    const std::optional<json> entries =
        engine_.call([&](HostEngine& engine) -> std::optional<json> {
            if (*device != 0) {
                const DeviceSpec* deviceSpec =
                    engine.devices().catalog().byNumber(static_cast<int>(*device));
                if (deviceSpec == nullptr) {
                    return std::nullopt;
                }
                query.device = deviceSpec->name;
            }
            json list = json::array();
            try {
                for (const HistoryEntry& entry : engine.history(query)) {
                    list.push_back(historyJson(entry));
                }
            } catch (const StoreError& error) {
                failure = error.what();
                failureStatus = httpStatusOf(HostResult::notStored(error));
            }
            return list;
        });
    if (!failure.empty()) {
        log_.add(0, "error", failure);
        sendError(response, failureStatus, failure);
        return;
    }
    sendFound(response, entries, json::object(), "entries",
              "there is no device " + std::to_string(*device));
}

void HttpApi::panelsPage(const Request& request, Response& response) {
    InlinePage::Data data;
    if (request.role) {
        data[kStartStateElement] = startStateJson(*snapshot(), jsonText(access_.whoIs(request)));
    }
    web_.serve(request.path, request.headers, response, data);
}

void HttpApi::stream(const Request& request, Response& response) {
    response.contentType = "text/event-stream";
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.eventStream = true;
    // The newest snapshot when the stream joins: the fence holds back every
    // change it shows until a snapshot with it is published, so a change
    // broadcast before that moment is in it and one after follows it.
    response.streamStart = [this, session = jsonText(access_.whoIs(request)),
                            since = request.param("since")] {
        return streamStartText(*snapshot(), session, since);
    };
}

}  // namespace panelhost
