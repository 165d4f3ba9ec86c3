#include "HttpApi.h"

#include <charconv>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>

#include "JsonText.h"
#include "UmdWall.h"

namespace panelhost {
namespace {

using nlohmann::json;

constexpr int kBadRequest = 400;
constexpr int kNotFound = 404;
constexpr int kConflict = 409;
constexpr int kLengthRequired = 411;
constexpr int kPayloadTooLarge = 413;
constexpr int kHeadTooLarge = 431;
constexpr int kServerError = 500;
constexpr int kUnavailable = 503;
// Longest client name an API writer may give for the history.
constexpr std::size_t kLongestClient = 64;
constexpr const char* kJson = "application/json";

void sendJson(HttpResponse& response, const json& body) {
    response.contentType = kJson;
    response.body = jsonText(body);
}

void sendError(HttpResponse& response, int status, const std::string& message) {
    response.status = status;
    response.contentType = kJson;
    response.body = jsonText(json{{"error", message}});
}

void sendResult(HttpResponse& response, const HostResult& result, const json& body) {
    switch (result.status) {
        case HostResult::Status::Ok:
            sendJson(response, body);
            return;
        case HostResult::Status::NotFound:
            sendError(response, kNotFound, result.error);
            return;
        case HostResult::Status::Conflict:
            sendError(response, kConflict, result.error);
            return;
        case HostResult::Status::Invalid:
            sendError(response, kBadRequest, result.error);
            return;
        case HostResult::Status::Failed:
            sendError(response, kServerError, result.error);
            return;
    }
}

std::optional<int> toNumber(const std::string& text) {
    int value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The number in capture `group` of the route; the routes only match digits,
// so only an overlong number fails.
std::optional<int> pathNumber(const HttpRequest& request, std::size_t group,
                              HttpResponse& response) {
    const std::optional<int> value = toNumber(request.matches[group]);
    if (!value) {
        sendError(response, kBadRequest, "\"" + request.matches[group] + "\" is too large");
    }
    return value;
}

// A query parameter as a number; `fallback` when absent. Answers 400 for a
// parameter that is not a number.
std::optional<long long> queryNumber(const HttpRequest& request, const char* name,
                                     long long fallback, HttpResponse& response) {
    if (!request.hasParam(name)) {
        return fallback;
    }
    const std::string text = request.param(name);
    long long value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
        sendError(response, kBadRequest, std::string("parameter ") + name + " must be a number");
        return std::nullopt;
    }
    return value;
}

// The request body as a JSON object with the string fields `fields`;
// answers 400 and returns nothing otherwise.
std::optional<json> bodyWith(const HttpRequest& request, std::initializer_list<const char*> fields,
                             HttpResponse& response) {
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        sendError(response, kBadRequest, "the body must be a JSON object");
        return std::nullopt;
    }
    for (const char* field : fields) {
        if (!body.contains(field) || !body[field].is_string()) {
            sendError(response, kBadRequest,
                      std::string("the body needs the text field \"") + field + "\"");
            return std::nullopt;
        }
    }
    return body;
}

// Who an API write is recorded as: the client's own name when it gives
// one, and its address.
std::optional<std::string> writer(const HttpRequest& request, const json& body,
                                  HttpResponse& response) {
    std::string client;
    if (body.contains("client")) {
        if (!body["client"].is_string() ||
            body["client"].get<std::string>().size() > kLongestClient) {
            sendError(response, kBadRequest, "\"client\" must be a text of at most 64 characters");
            return std::nullopt;
        }
        client = body["client"].get<std::string>();
    }
    return "api " +
           (client.empty() ? request.remoteAddr : client + " (" + request.remoteAddr + ")");
}

json logJson(const LogEntry& entry) {
    return {{"sequence", entry.sequence},
            {"time", entry.time},
            {"instance", entry.instance},
            {"kind", entry.kind},
            {"text", entry.text}};
}

json historyJson(const HistoryEntry& entry) {
    return {{"id", entry.id},
            {"time", entry.time},
            {"who", entry.who},
            {"device", entry.deviceNumber},
            {"deviceName", entry.device},
            {"database", entry.database},
            {"index", entry.index},
            {"old", entry.oldText},
            {"new", entry.newText}};
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

HttpApi::HttpApi(EngineThread& engine, EventLog& log, const std::filesystem::path& webRoot,
                 const DisplayOutput* displays)
    : routes_{{"GET", std::regex(R"(/api/panels)"), &HttpApi::panels},
              {"GET", std::regex(R"(/api/panels/(\d+))"), &HttpApi::panel},
              {"POST", std::regex(R"(/api/panels/(\d+)/events)"), &HttpApi::controlEvent},
              {"POST", std::regex(R"(/api/panels/(\d+)/messages)"), &HttpApi::hostMessage},
              {"GET", std::regex(R"(/api/devices)"), &HttpApi::devices},
              {"GET", std::regex(R"(/api/devices/(\d+))"), &HttpApi::device},
              {"GET", std::regex(R"(/api/devices/(\d+)/databases/(\d+))"), &HttpApi::database},
              {"GET", std::regex(R"(/api/devices/(\d+)/databases/(\d+)/(\d+))"),
               &HttpApi::readName},
              {"PUT", std::regex(R"(/api/devices/(\d+)/databases/(\d+)/(\d+))"),
               &HttpApi::writeName},
              {"GET", std::regex(R"(/api/devices/(\d+)/slots)"), &HttpApi::slots},
              {"GET", std::regex(R"(/api/devices/(\d+)/slots/(\d+))"), &HttpApi::readSlot},
              {"PUT", std::regex(R"(/api/devices/(\d+)/slots/(\d+))"), &HttpApi::writeSlot},
              {"GET", std::regex(R"(/api/log)"), &HttpApi::logEntries},
              {"GET", std::regex(R"(/api/history)"), &HttpApi::history},
              {"GET", std::regex(R"(/api/stream)"), &HttpApi::stream},
              {"GET", std::regex(R"(/api/wall)"), &HttpApi::wall},
              {"GET", std::regex(R"(/api/tsl)"), &HttpApi::displayOutput}},
      web_(webRoot, log),
      engine_(engine),
      log_(log),
      displays_(displays) {}

void HttpApi::answer(HttpRequest& request, HttpResponse& response) {
    // A HEAD is answered as its GET; the server leaves the body out.
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    for (const Route& route : routes_) {
        std::smatch found;
        if (route.method != method || !std::regex_match(request.path, found, route.path)) {
            continue;
        }
        request.matches.assign(found.begin(), found.end());
        try {
            (this->*route.handler)(request, response);
        } catch (const std::runtime_error& error) {
            response = HttpResponse();
            sendError(response, kUnavailable, error.what());
        }
        return;
    }
    if (method != "GET" || request.path.rfind("/api/", 0) == 0) {
        refuse(request, kNotFound, response);
        return;
    }
    web_.serve(request.path, response);
}

void HttpApi::refuse(const HttpRequest& request, int status, HttpResponse& response) {
    response.status = status;
    if (request.path.rfind("/api/", 0) == 0) {
        sendError(response, status, refusal(request, status));
    }
    if (status == kLengthRequired || status == kPayloadTooLarge) {
        // The unread body must not be taken for the next request.
        response.close = true;
    }
}

void HttpApi::panels(const Request&, Response& response) {
    const json instances = engine_.call([](HostEngine& engine) {
        json list = json::array();
        for (const int id : engine.instanceIds()) {
            list.push_back(*engine.instanceJson(id));
        }
        return list;
    });
    sendJson(response, {{"instances", instances}});
}

void HttpApi::panel(const Request& request, Response& response) {
    const std::optional<int> id = pathNumber(request, 1, response);
    if (!id) {
        return;
    }
    const std::optional<json> instance =
        engine_.call([&](HostEngine& engine) { return engine.instanceJson(*id); });
    if (!instance) {
        sendError(response, kNotFound, "there is no panel instance " + std::to_string(*id));
        return;
    }
    sendJson(response, *instance);
}

void HttpApi::controlEvent(const Request& request, Response& response) {
    const std::optional<int> id = pathNumber(request, 1, response);
    const std::optional<json> body =
        id ? bodyWith(request, {"panel", "control", "event"}, response) : std::nullopt;
    if (!body) {
        return;
    }
    const HostResult result = engine_.call([&](HostEngine& engine) {
        return engine.controlEvent(*id, (*body)["panel"], (*body)["control"], (*body)["event"]);
    });
    sendResult(response, result, {{"delivered", true}});
}

void HttpApi::hostMessage(const Request& request, Response& response) {
    const std::optional<int> id = pathNumber(request, 1, response);
    const std::optional<json> body = id ? bodyWith(request, {"text"}, response) : std::nullopt;
    if (!body) {
        return;
    }
    std::optional<std::string> answer;
    const HostResult result = engine_.call(
        [&](HostEngine& engine) { return engine.hostMessage(*id, (*body)["text"], answer); });
    sendResult(response, result, {{"answer", answer ? json(*answer) : json(nullptr)}});
}

void HttpApi::wall(const Request&, Response& response) {
    sendJson(
        response,
        engine_.call([](HostEngine& engine) { return UmdWall::read(engine.devices()); }).toJson());
}

void HttpApi::displayOutput(const Request&, Response& response) {
    sendJson(response, displays_ == nullptr ? json{{"enabled", false}} : displays_->statusJson());
}

void HttpApi::devices(const Request&, Response& response) {
    sendJson(response,
             engine_.call([](HostEngine& engine) { return engine.devices().catalog().toJson(); }));
}

void HttpApi::device(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    if (!number) {
        return;
    }
    const std::optional<json> device = engine_.call([&](HostEngine& engine) -> std::optional<json> {
        const DeviceSpec* deviceSpec = engine.devices().catalog().byNumber(*number);
        return deviceSpec == nullptr ? std::nullopt : std::optional<json>(deviceSpec->toJson());
    });
    if (!device) {
        sendError(response, kNotFound, "there is no device " + std::to_string(*number));
        return;
    }
    sendJson(response, *device);
}

void HttpApi::database(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    const std::optional<int> db = number ? pathNumber(request, 2, response) : std::nullopt;
    if (!db) {
        return;
    }
    const std::optional<json> entries =
        engine_.call([&](HostEngine& engine) -> std::optional<json> {
            const DeviceSpec* deviceSpec = engine.devices().catalog().byNumber(*number);
            if (deviceSpec == nullptr || !deviceSpec->hasDatabase(*db)) {
                return std::nullopt;
            }
            json list = json::array();
            for (int index = 1; index <= deviceSpec->entries; ++index) {
                list.push_back(
                    {{"index", index}, {"text", *engine.devices().readName(*number, *db, index)}});
            }
            return list;
        });
    if (!entries) {
        sendError(response, kNotFound,
                  "device " + std::to_string(*number) + " has no database " + std::to_string(*db));
        return;
    }
    sendJson(response, {{"device", *number}, {"database", *db}, {"entries", *entries}});
}

void HttpApi::readName(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    const std::optional<int> db = number ? pathNumber(request, 2, response) : std::nullopt;
    const std::optional<int> index = db ? pathNumber(request, 3, response) : std::nullopt;
    if (!index) {
        return;
    }
    const std::optional<std::string> text = engine_.call(
        [&](HostEngine& engine) { return engine.devices().readName(*number, *db, *index); });
    if (!text) {
        sendError(response, kNotFound,
                  "device " + std::to_string(*number) + " has no entry " + std::to_string(*index) +
                      " in database " + std::to_string(*db));
        return;
    }
    sendJson(response,
             {{"device", *number}, {"database", *db}, {"index", *index}, {"text", *text}});
}

void HttpApi::writeName(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    const std::optional<int> db = number ? pathNumber(request, 2, response) : std::nullopt;
    const std::optional<int> index = db ? pathNumber(request, 3, response) : std::nullopt;
    const std::optional<json> body = index ? bodyWith(request, {"text"}, response) : std::nullopt;
    const std::optional<std::string> who = body ? writer(request, *body, response) : std::nullopt;
    if (!who) {
        return;
    }
    const std::string text = (*body)["text"];
    const HostResult result = engine_.call(
        [&](HostEngine& engine) { return engine.writeName(*who, *number, *db, *index, text); });
    sendResult(response, result,
               {{"device", *number}, {"database", *db}, {"index", *index}, {"text", text}});
}

void HttpApi::slots(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    if (!number) {
        return;
    }
    const std::optional<json> written =
        engine_.call([&](HostEngine& engine) -> std::optional<json> {
            const DeviceSpec* deviceSpec = engine.devices().catalog().byNumber(*number);
            if (deviceSpec == nullptr || deviceSpec->slots == 0) {
                return std::nullopt;
            }
            json list = json::array();
            for (int index = 1; index <= deviceSpec->slots; ++index) {
                const std::string text = *engine.devices().readSlot(*number, index);
                if (!text.empty()) {
                    list.push_back({{"index", index}, {"text", text}});
                }
            }
            return list;
        });
    if (!written) {
        sendError(response, kNotFound, "device " + std::to_string(*number) + " has no slots");
        return;
    }
    sendJson(response, {{"device", *number}, {"slots", *written}});
}

void HttpApi::readSlot(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    const std::optional<int> index = number ? pathNumber(request, 2, response) : std::nullopt;
    if (!index) {
        return;
    }
    const std::optional<std::string> text = engine_.call(
        [&](HostEngine& engine) { return engine.devices().readSlot(*number, *index); });
    if (!text) {
        sendError(response, kNotFound,
                  "device " + std::to_string(*number) + " has no slot " + std::to_string(*index));
        return;
    }
    sendJson(response, {{"device", *number}, {"index", *index}, {"text", *text}});
}

void HttpApi::writeSlot(const Request& request, Response& response) {
    const std::optional<int> number = pathNumber(request, 1, response);
    const std::optional<int> index = number ? pathNumber(request, 2, response) : std::nullopt;
    const std::optional<json> body = index ? bodyWith(request, {"text"}, response) : std::nullopt;
    const std::optional<std::string> who = body ? writer(request, *body, response) : std::nullopt;
    if (!who) {
        return;
    }
    const std::string text = (*body)["text"];
    const HostResult result = engine_.call(
        [&](HostEngine& engine) { return engine.writeSlot(*who, *number, *index, text); });
    sendResult(response, result, {{"device", *number}, {"index", *index}, {"text", text}});
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
        entries.push_back(logJson(entry));
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
            for (const HistoryEntry& entry : engine.history(query)) {
                list.push_back(historyJson(entry));
            }
            return list;
        });
    if (!entries) {
        sendError(response, kNotFound, "there is no device " + std::to_string(*device));
        return;
    }
    sendJson(response, {{"entries", *entries}});
}

void HttpApi::stream(const Request&, Response& response) {
    response.contentType = "text/event-stream";
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.eventStream = true;
}

}  // namespace panelhost
