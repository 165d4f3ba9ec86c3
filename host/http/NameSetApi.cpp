#include "NameSetApi.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "HistoryJson.h"
#include "HttpStatus.h"
#include "JsonReply.h"
#include "NameSetCsv.h"
#include "NameSets.h"

namespace panelhost {
namespace {

using nlohmann::json;

// Longest file name an import is recorded with: what file systems allow.
constexpr std::size_t kLongestFileName = 255;

using namespace reply;

json lineJson(const NameSetDiff::Line& line) {
    json result{{"source", line.source},
                {"status", NameSetDiff::statusName(line.status)},
                {"old", line.oldText},
                {"new", line.newText}};
    if (line.line != 0) {
        result["line"] = line.line;
    }
    if (line.status == NameSetDiff::Status::Wrong) {
        result["reason"] = line.reason;
        result["text"] = line.text;
    }
    return result;
}

json linesJson(const std::vector<NameSetDiff::Line>& lines) {
    json list = json::array();
    json counts{{"new", 0}, {"changed", 0}, {"unchanged", 0}, {"wrong", 0}};
    for (const NameSetDiff::Line& line : lines) {
        list.push_back(lineJson(line));
        counts[NameSetDiff::statusName(line.status)] =
            counts[NameSetDiff::statusName(line.status)].get<int>() + 1;
    }
    return {{"lines", list}, {"counts", counts}};
}

json batchJson(const NameBatch& batch) {
    return {{"id", batch.id},     {"time", batch.time}, {"who", batch.who},
            {"kind", batch.kind}, {"what", batch.what}, {"undoes", batch.undoes}};
}

// An import or a copy: its preview lines, the title a copy carries, and,
// with `withBatch`, the batch written (null when none was). A refusal for
// wrong lines carries the lines with its error.
void sendChange(HttpResponse& response, const NameSets::Change& change, bool withBatch) {
    if (!change.result.ok()) {
        sendError(response, httpStatusOf(change.result), change.result.error,
                  change.lines.empty() ? json::object() : linesJson(change.lines));
        return;
    }
    json result = linesJson(change.lines);
    if (change.title) {
        result["title"] = {
            {"old", change.title->oldText},
            {"new", change.title->newText},
            {"status", change.title->oldText == change.title->newText ? "unchanged" : "changed"}};
    }
    if (withBatch) {
        result["batch"] = change.batch ? batchJson(*change.batch) : json(nullptr);
    }
    sendJson(response, result);
}

// "DEVICE:DATABASE" as the compare route takes a set.
std::optional<NameSetAddress> setParam(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto device = toNumber<int>(text.substr(0, colon));
    const auto database = toNumber<int>(text.substr(colon + 1));
    if (!device || !database) {
        return std::nullopt;
    }
    return NameSetAddress{*device, *database};
}

// What a POST on a history entry or a batch carries: its number and who
// asks; nothing when the request has been answered with an error.
struct NumberedWrite {
    long long id = 0;
    std::string who;
};

std::optional<NumberedWrite> numberedWrite(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<1>(request, response);
    const std::optional<json> body = path ? jsonBody(request, response) : std::nullopt;
    if (!body) {
        return std::nullopt;
    }
    return NumberedWrite{(*path)[0], request.who()};
}

}  // namespace

NameSetApi::NameSetApi(EngineThread& engine, EventLog& log) : engine_(engine), log_(log) {}

std::vector<HttpRoute> NameSetApi::routes() {
    // Every route logs an answer 500 as an error.
    const auto logged = [this](std::function<void(const HttpRequest&, HttpResponse&)> handler) {
        return [this, handler](HttpRequest& request, HttpResponse& response) {
            handler(request, response);
            if (response.status == kServerError) {
                log_.add(0, "error",
                         request.method + " " + request.path + " failed: " + response.body);
            }
        };
    };
    const auto on = [this, logged](void (NameSetApi::*handler)(const HttpRequest&, HttpResponse&)) {
        return logged([this, handler](const HttpRequest& request, HttpResponse& response) {
            (this->*handler)(request, response);
        });
    };
    // An import or a copy, previewed or applied.
    const auto changing = [this, logged](
                              void (NameSetApi::*handler)(const HttpRequest&, HttpResponse&, bool),
                              bool apply) {
        return logged([this, handler, apply](const HttpRequest& request, HttpResponse& response) {
            (this->*handler)(request, response, apply);
        });
    };
    const std::string set = "/api/devices/{n}/databases/{n}";
    return {
        // The previews only read, but take a body.
        {"POST", set + "/import/preview", Role::Viewer, changing(&NameSetApi::importSet, false)},
        {"POST", set + "/import", Role::Engineer, changing(&NameSetApi::importSet, true)},
        {"GET", set + "/csv", Role::Viewer, on(&NameSetApi::exportSet)},
        {"POST", set + "/copy/preview", Role::Viewer, changing(&NameSetApi::copySet, false)},
        {"POST", set + "/copy", Role::Engineer, changing(&NameSetApi::copySet, true)},
        {"GET", "/api/compare", Role::Viewer, on(&NameSetApi::compare)},
        {"GET", "/api/find", Role::Viewer, on(&NameSetApi::find)},
        {"POST", "/api/history/{n}/restore", Role::Engineer, on(&NameSetApi::restore)},
        {"GET", "/api/batches/{n}", Role::Viewer, on(&NameSetApi::batch)},
        {"POST", "/api/batches/{n}/undo", Role::Engineer, on(&NameSetApi::undo)},
    };
}

void NameSetApi::importSet(const HttpRequest& request, HttpResponse& response, bool apply) {
    const auto path = pathNumbers<2>(request, response);
    const std::optional<json> body = path ? jsonBody(request, response) : std::nullopt;
    if (!body) {
        return;
    }
    if (!body->contains("csv") || !(*body)["csv"].is_string()) {
        sendError(response, kBadRequest, "the body needs the text field \"csv\"");
        return;
    }
    std::string file = "CSV";
    if (body->contains("file")) {
        if (!(*body)["file"].is_string() || (*body)["file"].get<std::string>().empty() ||
            (*body)["file"].get<std::string>().size() > kLongestFileName) {
            sendError(response, kBadRequest,
                      "\"file\" must be a file name of 1 to " + std::to_string(kLongestFileName) +
                          " characters");
            return;
        }
        file = (*body)["file"].get<std::string>();
    }
    const std::string who = request.who();
    const NameSetAddress set{(*path)[0], (*path)[1]};
    const std::string csv = (*body)["csv"];
    const NameSets::Change change = engine_.call(
        [&](HostEngine& engine) { return NameSets(engine).importCsv(set, csv, file, who, apply); });
    sendChange(response, change, apply);
}

void NameSetApi::exportSet(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<2>(request, response);
    if (!path) {
        return;
    }
    const NameSetAddress set{(*path)[0], (*path)[1]};
    const std::optional<std::vector<std::string>> names =
        engine_.call([&](HostEngine& engine) { return NameSets(engine).names(set); });
    if (!names) {
        sendError(response, kNotFound, "there is no " + set.text());
        return;
    }
    response.contentType = "text/csv; charset=utf-8";
    response.headers.emplace_back(
        "Content-Disposition", "attachment; filename=\"names-" + std::to_string(set.device) + "-" +
                                   std::to_string(set.database) + ".csv\"");
    response.body = NameSetCsv::write(*names);
}

void NameSetApi::copySet(const HttpRequest& request, HttpResponse& response, bool apply) {
    const auto path = pathNumbers<2>(request, response);
    const std::optional<json> body = path ? jsonBody(request, response) : std::nullopt;
    if (!body) {
        return;
    }
    const json& from = body->value("from", json());
    if (!from.is_object() || !from.value("device", json()).is_number_integer() ||
        !from.value("database", json()).is_number_integer()) {
        sendError(response, kBadRequest,
                  "the body needs \"from\": {\"device\": number, \"database\": number}");
        return;
    }
    const json title = body->value("title", json(false));
    if (!title.is_boolean()) {
        sendError(response, kBadRequest, "\"title\" must be true or false");
        return;
    }
    const std::string who = request.who();
    const NameSetAddress onto{(*path)[0], (*path)[1]};
    const NameSetAddress source{from["device"], from["database"]};
    const bool withTitle = title.get<bool>();
    const NameSets::Change change = engine_.call([&](HostEngine& engine) {
        return NameSets(engine).copy(source, onto, withTitle, who, apply);
    });
    sendChange(response, change, true);
}

void NameSetApi::compare(const HttpRequest& request, HttpResponse& response) {
    const auto left = setParam(request.param("left"));
    const auto right = setParam(request.param("right"));
    if (!left || !right) {
        sendError(response, kBadRequest,
                  "parameters left and right must each be DEVICE:DATABASE, e.g. left=12:3");
        return;
    }
    const NameSets::Comparison comparison =
        engine_.call([&](HostEngine& engine) { return NameSets(engine).compare(*left, *right); });
    json rows = json::array();
    for (const NameSets::Row& row : comparison.rows) {
        rows.push_back({{"index", row.index},
                        {"left", row.left},
                        {"right", row.right},
                        {"same", row.left == row.right}});
    }
    sendResult(response, comparison.result,
               {{"rows", rows}, {"differences", comparison.differences}});
}

void NameSetApi::find(const HttpRequest& request, HttpResponse& response) {
    const std::string wanted = request.param("text");
    if (wanted.empty()) {
        sendError(response, kBadRequest, "parameter text must not be empty");
        return;
    }
    const NameSets::Found found =
        engine_.call([&](HostEngine& engine) { return NameSets(engine).find(wanted); });
    json hits = json::array();
    for (const NameSets::Hit& hit : found.hits) {
        hits.push_back({{"device", hit.device},
                        {"deviceName", hit.deviceName},
                        {"database", hit.database},
                        {"index", hit.index},
                        {"title", hit.title},
                        {"text", hit.text}});
    }
    sendJson(response, {{"hits", hits}, {"more", found.more}});
}

void NameSetApi::restore(const HttpRequest& request, HttpResponse& response) {
    const std::optional<NumberedWrite> write = numberedWrite(request, response);
    if (!write) {
        return;
    }
    const long long id = write->id;
    const std::string& who = write->who;
    const NameSets::RestoredName restored =
        engine_.call([&](HostEngine& engine) { return NameSets(engine).restore(id, who); });
    sendResult(response, restored.result,
               {{"restores", id},
                {"device", restored.device},
                {"database", restored.database},
                {"index", restored.index},
                {"text", restored.text}});
}

void NameSetApi::batch(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const long long id = (*path)[0];
    const NameSets::BatchRead read =
        engine_.call([&](HostEngine& engine) { return NameSets(engine).batch(id); });
    json entries = json::array();
    for (const HistoryEntry& entry : read.entries) {
        entries.push_back(historyEntryJson(entry));
    }
    json result = batchJson(read.batch);
    result["entries"] = entries;
    sendResult(response, read.result, result);
}

void NameSetApi::undo(const HttpRequest& request, HttpResponse& response) {
    const std::optional<NumberedWrite> write = numberedWrite(request, response);
    if (!write) {
        return;
    }
    const long long id = write->id;
    const std::string& who = write->who;
    const NameSets::Undone undone =
        engine_.call([&](HostEngine& engine) { return NameSets(engine).undo(id, who); });
    json batches = json::array();
    for (const NameBatch& written : undone.batches) {
        batches.push_back(batchJson(written));
    }
    json skipped = json::array();
    for (const NameSets::Skipped& skip : undone.skipped) {
        json entry = historyEntryJson(skip.entry);
        if (!skip.reason.empty()) {
            entry["reason"] = skip.reason;
        }
        if (skip.now) {
            entry["now"] = *skip.now;
        }
        skipped.push_back(entry);
    }
    sendResult(response, undone.result,
               {{"undoes", id},
                {"restored", undone.restored},
                {"batches", batches},
                {"skipped", skipped}});
}

}  // namespace panelhost
