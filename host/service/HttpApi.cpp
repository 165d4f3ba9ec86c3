#include "HttpApi.h"

#include <httplib.h>
#include <strings.h>

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <utility>

#include "JsonText.h"
#include "LogEntryJson.h"
#include "UmdWall.h"

namespace panelhost {
namespace {

using nlohmann::json;

constexpr int kBadRequest = 400;
constexpr int kNotFound = 404;
constexpr int kConflict = 409;
constexpr int kLengthRequired = 411;
constexpr int kPayloadTooLarge = 413;
constexpr int kServerError = 500;
constexpr int kUnavailable = 503;
// Longest client name an API writer may give for the history.
constexpr std::size_t kLongestClient = 64;
constexpr const char* kJson = "application/json";
// Longest request body taken: the largest a request needs, a 256-character
// text with its client name, is a few kilobytes even fully escaped. Longer
// bodies are refused before they are read into memory; so are bodies sent
// in chunks, which the server would read whole whatever their length.
constexpr std::size_t kLongestBody = 64 * 1024;

void sendJson(httplib::Response& response, const json& body) {
    response.set_content(jsonText(body), kJson);
}

void sendError(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(jsonText(json{{"error", message}}), kJson);
}

// Answers `found`, or 404 saying `missing` when nothing was found.
void sendFound(httplib::Response& response, const std::optional<json>& found,
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
void sendFound(httplib::Response& response, const std::optional<Value>& found, json body,
               const char* key, const std::string& missing) {
    if (found) {
        body[key] = *found;
    }
    sendFound(response, found ? std::optional<json>(std::move(body)) : std::nullopt, missing);
}

void sendResult(httplib::Response& response, const HostResult& result, const json& body) {
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

// `text` as a whole decimal number of type Number, or nothing.
template <typename Number>
std::optional<Number> toNumber(const std::string& text) {
    Number value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The first `count` numbers of the route, in the order of its capture
// groups. The routes only match digits, so only an overlong number fails,
// and answers 400.
template <std::size_t count>
std::optional<std::array<int, count>> pathNumbers(const httplib::Request& request,
                                                  httplib::Response& response) {
    std::array<int, count> numbers{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::string text = request.matches[i + 1].str();
        const std::optional<int> value = toNumber<int>(text);
        if (!value) {
            sendError(response, kBadRequest, "\"" + text + "\" is too large");
            return std::nullopt;
        }
        numbers[i] = *value;
    }
    return numbers;
}

// A query parameter as a number; `fallback` when absent. Answers 400 for a
// parameter that is not a number.
std::optional<long long> queryNumber(const httplib::Request& request, const char* name,
                                     long long fallback, httplib::Response& response) {
    if (!request.has_param(name)) {
        return fallback;
    }
    const std::optional<long long> value = toNumber<long long>(request.get_param_value(name));
    if (!value) {
        sendError(response, kBadRequest, std::string("parameter ") + name + " must be a number");
    }
    return value;
}

// The request body as a JSON object with the string fields `fields`;
// answers 400 and returns nothing otherwise.
std::optional<json> bodyWith(const httplib::Request& request,
                             std::initializer_list<const char*> fields,
                             httplib::Response& response) {
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
std::optional<std::string> writer(const httplib::Request& request, const json& body,
                                  httplib::Response& response) {
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
           (client.empty() ? request.remote_addr : client + " (" + request.remote_addr + ")");
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
std::optional<TextWrite<count>> textWrite(const httplib::Request& request,
                                          httplib::Response& response) {
    const auto path = pathNumbers<count>(request, response);
    const std::optional<json> body = path ? bodyWith(request, {"text"}, response) : std::nullopt;
    const std::optional<std::string> who = body ? writer(request, *body, response) : std::nullopt;
    if (!who) {
        return std::nullopt;
    }
    return TextWrite<count>{*path, (*body)["text"], *who};
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

// Whether a static file request, `path` being the decoded URL path, names
// an existing file whose real location (symbolic links followed) is outside
// the web folder `root` (canonical). The file server itself only refuses
// ".." segments.
bool leavesWebFolder(const std::filesystem::path& root, const std::string& path) {
    std::string file = root.string() + path;
    if (!path.empty() && path.back() == '/') {
        file += "index.html";
    }
    std::error_code missing;
    const std::filesystem::path real = std::filesystem::canonical(file, missing);
    if (missing) {
        return false;
    }
    const std::filesystem::path inside = real.lexically_relative(root);
    return inside.empty() || *inside.begin() == "..";
}

bool isChunked(const httplib::Request& request) {
    return strcasecmp(request.get_header_value("Transfer-Encoding").c_str(), "chunked") == 0;
}

// The error text of an answer the server made itself.
std::string refusal(const httplib::Request& request, int status) {
    switch (status) {
        case kLengthRequired:
            return "a body must be sent with its length, not in chunks";
        case kPayloadTooLarge:
            return "the body is longer than " + std::to_string(kLongestBody) + " bytes";
        default:
            return "no such resource: " + request.method + " " + request.path;
    }
}

std::string sseEvent(const Change& change) {
    return "id: " + std::to_string(change.id) + "\nevent: " + change.type +
           "\ndata: " + change.data + "\n\n";
}

}  // namespace

HttpApi::HttpApi(httplib::Server& server, EngineThread& engine, EventLog& log, ChangeFeed& feed,
                 const std::filesystem::path& webRoot, const DisplayOutput* displays)
    : engine_(engine), log_(log), feed_(feed), displays_(displays) {
    const auto route = [this](void (HttpApi::*handler)(const Request&, Response&)) {
        return [this, handler](const Request& request, Response& response) {
            try {
                (this->*handler)(request, response);
            } catch (const std::runtime_error& error) {
                sendError(response, kUnavailable, error.what());
            }
        };
    };
    server.Get(R"(/api/panels)", route(&HttpApi::panels));
    server.Get(R"(/api/panels/(\d+))", route(&HttpApi::panel));
    server.Post(R"(/api/panels/(\d+)/events)", route(&HttpApi::controlEvent));
    server.Post(R"(/api/panels/(\d+)/messages)", route(&HttpApi::hostMessage));
    server.Get(R"(/api/devices)", route(&HttpApi::devices));
    server.Get(R"(/api/devices/(\d+))", route(&HttpApi::device));
    server.Get(R"(/api/devices/(\d+)/databases/(\d+))", route(&HttpApi::database));
    server.Get(R"(/api/devices/(\d+)/databases/(\d+)/(\d+))", route(&HttpApi::readName));
    server.Put(R"(/api/devices/(\d+)/databases/(\d+)/(\d+))", route(&HttpApi::writeName));
    server.Get(R"(/api/devices/(\d+)/slots)", route(&HttpApi::slots));
    server.Get(R"(/api/devices/(\d+)/slots/(\d+))", route(&HttpApi::readSlot));
    server.Put(R"(/api/devices/(\d+)/slots/(\d+))", route(&HttpApi::writeSlot));
    server.Get(R"(/api/log)", route(&HttpApi::logEntries));
    server.Get(R"(/api/history)", route(&HttpApi::history));
    server.Get(R"(/api/stream)", route(&HttpApi::stream));
    server.Get(R"(/api/wall)", route(&HttpApi::wall));
    server.Get(R"(/api/tsl)", route(&HttpApi::displayOutput));
    server.set_error_handler([](const Request& request, Response& response) {
        if (request.path.rfind("/api/", 0) == 0 && response.body.empty()) {
            sendError(response, response.status, refusal(request, response.status));
        }
    });
    server.set_payload_max_length(kLongestBody);
    std::error_code missing;
    const std::filesystem::path root = std::filesystem::canonical(webRoot, missing);
    server.set_pre_routing_handler([this, root](const Request& request, Response& response) {
        if (isChunked(request)) {
            response.status = kLengthRequired;
            // The unread body must not be taken for the next request.
            response.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (root.empty() || request.path.rfind("/api/", 0) == 0 ||
            !leavesWebFolder(root, request.path)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        log_.add(0, "warning", "refused " + request.path + ": it leads outside the web folder");
        response.status = kNotFound;
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_mount_point("/", webRoot.string());
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
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const int id = (*path)[0];
    const std::optional<json> instance =
        engine_.call([&](HostEngine& engine) { return engine.instanceJson(id); });
    sendFound(response, instance, "there is no panel instance " + std::to_string(id));
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
        return engine.controlEvent(id, (*body)["panel"], (*body)["control"], (*body)["event"]);
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
    const HostResult result = engine_.call(
        [&](HostEngine& engine) { return engine.hostMessage(id, (*body)["text"], answer); });
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
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const std::optional<json> device = engine_.call([&](HostEngine& engine) -> std::optional<json> {
        const DeviceSpec* deviceSpec = engine.devices().catalog().byNumber(number);
        return deviceSpec == nullptr ? std::nullopt : std::optional<json>(deviceSpec->toJson());
    });
    sendFound(response, device, "there is no device " + std::to_string(number));
}

void HttpApi::database(const Request& request, Response& response) {
    const auto path = pathNumbers<2>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const int db = (*path)[1];
    const std::optional<json> entries =
        engine_.call([&](HostEngine& engine) -> std::optional<json> {
            const DeviceSpec* deviceSpec = engine.devices().catalog().byNumber(number);
            if (deviceSpec == nullptr || !deviceSpec->hasDatabase(db)) {
                return std::nullopt;
            }
            json list = json::array();
            for (int index = 1; index <= deviceSpec->entries; ++index) {
                list.push_back(
                    {{"index", index}, {"text", *engine.devices().readName(number, db, index)}});
            }
            return list;
        });
    sendFound(response, entries, {{"device", number}, {"database", db}}, "entries",
              "device " + std::to_string(number) + " has no database " + std::to_string(db));
}

void HttpApi::readName(const Request& request, Response& response) {
    const auto path = pathNumbers<3>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const int db = (*path)[1];
    const int index = (*path)[2];
    const std::optional<std::string> text = engine_.call(
        [&](HostEngine& engine) { return engine.devices().readName(number, db, index); });
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
    const std::optional<json> written =
        engine_.call([&](HostEngine& engine) -> std::optional<json> {
            const DeviceSpec* deviceSpec = engine.devices().catalog().byNumber(number);
            if (deviceSpec == nullptr || deviceSpec->slots == 0) {
                return std::nullopt;
            }
            json list = json::array();
            for (int index = 1; index <= deviceSpec->slots; ++index) {
                const std::string text = *engine.devices().readSlot(number, index);
                if (!text.empty()) {
                    list.push_back({{"index", index}, {"text", text}});
                }
            }
            return list;
        });
    sendFound(response, written, {{"device", number}}, "slots",
              "device " + std::to_string(number) + " has no slots");
}

void HttpApi::readSlot(const Request& request, Response& response) {
    const auto path = pathNumbers<2>(request, response);
    if (!path) {
        return;
    }
    const int number = (*path)[0];
    const int index = (*path)[1];
    const std::optional<std::string> text =
        engine_.call([&](HostEngine& engine) { return engine.devices().readSlot(number, index); });
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
    std::optional<json> entries;
    try {
        entries = engine_.call([&](HostEngine& engine) -> std::optional<json> {
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
    } catch (const StoreError& error) {
        log_.add(0, "error", error.what());
        sendError(response, kServerError, error.what());
        return;
    }
    sendFound(response, entries, json::object(), "entries",
              "there is no device " + std::to_string(*device));
}

void HttpApi::stream(const Request&, Response& response) {
    auto subscription = feed_.subscribe();
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        "text/event-stream",
        [subscription](std::size_t, httplib::DataSink& sink) {
            const std::vector<Change> changes = subscription->wait(kKeepAlive);
            if (changes.empty() && subscription->closed()) {
                sink.done();
                return true;
            }
            std::string text = changes.empty() ? ": keep-alive\n\n" : "";
            for (const Change& change : changes) {
                text += sseEvent(change);
            }
            return sink.write(text.data(), text.size());
        },
        [this, subscription](bool) { feed_.unsubscribe(subscription); });
}

}  // namespace panelhost
