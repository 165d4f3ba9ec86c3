#include "NameSetApi.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <utility>

#include "HttpApi.h"
#include "JsonReply.h"
#include "JsonText.h"
#include "NameSetCsv.h"
#include "NameSetDiff.h"

namespace panelhost {
namespace {

using nlohmann::json;

constexpr int kOk = 200;
constexpr int kNotFound = 404;
constexpr int kServerError = 500;
constexpr int kUnavailable = 503;
// Longest file name an import is recorded with: what file systems allow.
constexpr std::size_t kLongestFileName = 255;

using namespace reply;

std::string setText(int device, int database) {
    return "device " + std::to_string(device) + " database " + std::to_string(database);
}

// The names of a set, source i + 1 at position i; nothing when the device
// has no such database.
std::optional<std::vector<std::string>> namesOf(const HostEngine& engine, int device,
                                                int database) {
    const DeviceSpec* catalogued = engine.devices().catalog().byNumber(device);
    if (catalogued == nullptr || !catalogued->hasDatabase(database)) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (int index = 1; index <= catalogued->entries; ++index) {
        names.push_back(*engine.devices().readName(device, database, index));
    }
    return names;
}

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

json entryJson(const HistoryEntry& entry) {
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

// What one request computed on the engine thread: an answer, or an error
// with its status. A store failure travels as text, never as an exception
// object shared between the threads.
struct Outcome {
    int status = kOk;
    std::string error;
    json body = json::object();

    static Outcome ok(json body) { return Outcome{kOk, "", std::move(body)}; }
    static Outcome failed(int status, std::string error, json body = json::object()) {
        return Outcome{status, std::move(error), std::move(body)};
    }
};

void send(HttpResponse& response, const Outcome& outcome) {
    if (outcome.status == kOk) {
        sendJson(response, outcome.body);
    } else {
        sendError(response, outcome.status, outcome.error, outcome.body);
    }
}

int statusOf(const HostResult& result) {
    switch (result.status) {
        case HostResult::Status::Ok:
            return kOk;
        case HostResult::Status::NotFound:
            return kNotFound;
        case HostResult::Status::Invalid:
        case HostResult::Status::Conflict:
            return kBadRequest;
        case HostResult::Status::Failed:
            return kServerError;
        case HostResult::Status::Unavailable:
            return kUnavailable;
    }
    return kServerError;
}

// Lower-case ASCII, for a search that ignores case where it can.
std::string folded(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "DEVICE:DATABASE" as the compare route takes a set.
std::optional<std::pair<int, int>> setParam(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto device = toNumber<int>(text.substr(0, colon));
    const auto database = toNumber<int>(text.substr(colon + 1));
    if (!device || !database) {
        return std::nullopt;
    }
    return std::pair{*device, *database};
}

}  // namespace

NameSetApi::NameSetApi(EngineThread& engine, EventLog& log) : engine_(engine), log_(log) {}

std::vector<HttpRoute> NameSetApi::routes() {
    const auto on = [this](void (NameSetApi::*handler)(const HttpRequest&, HttpResponse&)) {
        return [this, handler](HttpRequest& request, HttpResponse& response) {
            (this->*handler)(request, response);
            if (response.status == kServerError) {
                log_.add(0, "error",
                         request.method + " " + request.path + " failed: " + response.body);
            }
        };
    };
    const std::string set = "/api/devices/{n}/databases/{n}";
    return {
        // The previews only read, but take a body.
        {"POST", set + "/import/preview", Role::Viewer, on(&NameSetApi::previewImport)},
        {"POST", set + "/import", Role::Engineer, on(&NameSetApi::applyImport)},
        {"GET", set + "/csv", Role::Viewer, on(&NameSetApi::exportSet)},
        {"POST", set + "/copy/preview", Role::Viewer, on(&NameSetApi::previewCopy)},
        {"POST", set + "/copy", Role::Engineer, on(&NameSetApi::applyCopy)},
        {"GET", "/api/compare", Role::Viewer, on(&NameSetApi::compare)},
        {"GET", "/api/find", Role::Viewer, on(&NameSetApi::find)},
        {"POST", "/api/history/{n}/restore", Role::Engineer, on(&NameSetApi::restore)},
        {"GET", "/api/batches/{n}", Role::Viewer, on(&NameSetApi::batch)},
        {"POST", "/api/batches/{n}/undo", Role::Engineer, on(&NameSetApi::undo)},
    };
}

void NameSetApi::previewImport(const HttpRequest& request, HttpResponse& response) {
    importSet(request, response, false);
}

void NameSetApi::applyImport(const HttpRequest& request, HttpResponse& response) {
    importSet(request, response, true);
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
    const int device = (*path)[0];
    const int database = (*path)[1];
    const std::string csv = (*body)["csv"];
    const Outcome outcome = engine_.call([&](HostEngine& engine) {
        const std::optional<std::vector<std::string>> current = namesOf(engine, device, database);
        if (!current) {
            return Outcome::failed(kNotFound, "there is no " + setText(device, database));
        }
        std::istringstream in(csv);
        const NameSetCsv::Report report =
            NameSetCsv::read(in, static_cast<int>(current->size()), NameSetCsv::kLongestName);
        const std::vector<NameSetDiff::Line> lines = NameSetDiff::importPreview(report, *current);
        json result = linesJson(lines);
        if (!apply) {
            return Outcome::ok(result);
        }
        if (NameSetDiff::anyWrong(lines)) {
            return Outcome::failed(kBadRequest, NameSetDiff::refusal(lines), result);
        }
        std::vector<NameChange> changes;
        for (const NameSetDiff::Line& line : NameSetDiff::writes(lines)) {
            changes.push_back(NameChange{database, line.source, line.newText});
        }
        result["batch"] = nullptr;
        if (changes.empty()) {
            return Outcome::ok(result);
        }
        const std::string name = engine.devices().catalog().byNumber(device)->name;
        NameBatch batch{0,
                        "",
                        who,
                        "import",
                        file + " into database " + std::to_string(database) + " of " + name,
                        0};
        const HostResult written = engine.writeBatch(batch, device, changes);
        if (!written.ok()) {
            return Outcome::failed(statusOf(written), written.error);
        }
        result["batch"] = batchJson(batch);
        return Outcome::ok(result);
    });
    send(response, outcome);
}

void NameSetApi::exportSet(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<2>(request, response);
    if (!path) {
        return;
    }
    const int device = (*path)[0];
    const int database = (*path)[1];
    const std::optional<std::vector<std::string>> names =
        engine_.call([&](HostEngine& engine) { return namesOf(engine, device, database); });
    if (!names) {
        sendError(response, kNotFound, "there is no " + setText(device, database));
        return;
    }
    response.contentType = "text/csv; charset=utf-8";
    response.headers.emplace_back("Content-Disposition", "attachment; filename=\"names-" +
                                                             std::to_string(device) + "-" +
                                                             std::to_string(database) + ".csv\"");
    response.body = NameSetCsv::write(*names);
}

void NameSetApi::previewCopy(const HttpRequest& request, HttpResponse& response) {
    copySet(request, response, false);
}

void NameSetApi::applyCopy(const HttpRequest& request, HttpResponse& response) {
    copySet(request, response, true);
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
    const int device = (*path)[0];
    const int database = (*path)[1];
    const int fromDevice = from["device"];
    const int fromDatabase = from["database"];
    const bool withTitle = title.get<bool>();
    const Outcome outcome = engine_.call([&](HostEngine& engine) {
        const auto source = namesOf(engine, fromDevice, fromDatabase);
        const auto target = namesOf(engine, device, database);
        if (!source || !target) {
            return Outcome::failed(kNotFound,
                                   "there is no " + (source ? setText(device, database)
                                                            : setText(fromDevice, fromDatabase)));
        }
        if (fromDevice == device && fromDatabase == database) {
            return Outcome::failed(kBadRequest, "a set cannot be copied onto itself");
        }
        const std::vector<NameSetDiff::Line> lines = NameSetDiff::copyPreview(*source, *target);
        json result = linesJson(lines);
        if (apply && NameSetDiff::anyWrong(lines)) {
            return Outcome::failed(kBadRequest, NameSetDiff::refusal(lines), result);
        }
        std::vector<NameChange> changes;
        for (const NameSetDiff::Line& line : NameSetDiff::writes(lines)) {
            changes.push_back(NameChange{database, line.source, line.newText});
        }
        if (withTitle) {
            // A set's title is its entry in its device's title database.
            const DeviceSpec* targetSpec = engine.devices().catalog().byNumber(device);
            const DeviceSpec* sourceSpec = engine.devices().catalog().byNumber(fromDevice);
            const auto readTitle = [&](const DeviceSpec* catalogued, int set) {
                return catalogued->titleDatabase == 0
                           ? std::nullopt
                           : engine.devices().readName(catalogued->number,
                                                       catalogued->titleDatabase, set);
            };
            const std::optional<std::string> oldTitle = readTitle(targetSpec, database);
            const std::optional<std::string> newTitle = readTitle(sourceSpec, fromDatabase);
            if (!oldTitle || !newTitle) {
                return Outcome::failed(kBadRequest, std::string("the ") +
                                                        (oldTitle ? "source" : "target") +
                                                        " set has no stored title to copy");
            }
            result["title"] = {{"old", *oldTitle},
                               {"new", *newTitle},
                               {"status", *oldTitle == *newTitle ? "unchanged" : "changed"}};
            if (*oldTitle != *newTitle) {
                changes.push_back(NameChange{targetSpec->titleDatabase, database, *newTitle});
            }
        }
        result["batch"] = nullptr;
        if (!apply || changes.empty()) {
            return Outcome::ok(result);
        }
        NameBatch batch{0,
                        "",
                        who,
                        "copy",
                        setText(fromDevice, fromDatabase) + " onto " + setText(device, database) +
                            (withTitle ? " with its title" : ""),
                        0};
        const HostResult written = engine.writeBatch(batch, device, changes);
        if (!written.ok()) {
            return Outcome::failed(statusOf(written), written.error);
        }
        result["batch"] = batchJson(batch);
        return Outcome::ok(result);
    });
    send(response, outcome);
}

void NameSetApi::compare(const HttpRequest& request, HttpResponse& response) {
    const auto left = setParam(request.param("left"));
    const auto right = setParam(request.param("right"));
    if (!left || !right) {
        sendError(response, kBadRequest,
                  "parameters left and right must each be DEVICE:DATABASE, e.g. left=12:3");
        return;
    }
    const Outcome outcome = engine_.call([&](HostEngine& engine) {
        const auto leftNames = namesOf(engine, left->first, left->second);
        const auto rightNames = namesOf(engine, right->first, right->second);
        if (!leftNames || !rightNames) {
            return Outcome::failed(
                kNotFound, "there is no " + (leftNames ? setText(right->first, right->second)
                                                       : setText(left->first, left->second)));
        }
        json rows = json::array();
        int differences = 0;
        const std::size_t count = std::max(leftNames->size(), rightNames->size());
        for (std::size_t i = 0; i < count; ++i) {
            const std::string a = i < leftNames->size() ? (*leftNames)[i] : "";
            const std::string b = i < rightNames->size() ? (*rightNames)[i] : "";
            differences += a != b ? 1 : 0;
            rows.push_back({{"index", i + 1}, {"left", a}, {"right", b}, {"same", a == b}});
        }
        return Outcome::ok({{"rows", rows}, {"differences", differences}});
    });
    send(response, outcome);
}

void NameSetApi::find(const HttpRequest& request, HttpResponse& response) {
    const std::string wanted = folded(request.param("text"));
    if (wanted.empty()) {
        sendError(response, kBadRequest, "parameter text must not be empty");
        return;
    }
    const json found = engine_.call([&](HostEngine& engine) {
        json hits = json::array();
        bool more = false;
        for (const DeviceSpec& catalogued : engine.devices().catalog().devices()) {
            for (const int database : catalogued.databases) {
                for (int index = 1; index <= catalogued.entries; ++index) {
                    const std::string text =
                        *engine.devices().readName(catalogued.number, database, index);
                    if (folded(text).find(wanted) == std::string::npos) {
                        continue;
                    }
                    if (hits.size() == kMostHits) {
                        more = true;
                        break;
                    }
                    hits.push_back({{"device", catalogued.number},
                                    {"deviceName", catalogued.name},
                                    {"database", database},
                                    {"index", index},
                                    {"title", catalogued.titleDatabase != 0 &&
                                                  database == catalogued.titleDatabase},
                                    {"text", text}});
                }
            }
        }
        return json{{"hits", hits}, {"more", more}};
    });
    sendJson(response, found);
}

void NameSetApi::restore(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<1>(request, response);
    const std::optional<json> body = path ? jsonBody(request, response) : std::nullopt;
    if (!body) {
        return;
    }
    const std::string who = request.who();
    const long long id = (*path)[0];
    const Outcome outcome = engine_.call([&](HostEngine& engine) {
        std::optional<HistoryEntry> entry;
        try {
            entry = engine.store().historyEntry(id);
        } catch (const StoreError& error) {
            return Outcome::failed(statusOf(HostResult::notStored(error)), error.what());
        }
        if (!entry) {
            return Outcome::failed(kNotFound, "there is no history entry " + std::to_string(id));
        }
        const DeviceSpec* catalogued = engine.devices().catalog().byName(entry->device);
        if (catalogued == nullptr) {
            return Outcome::failed(kNotFound, "the device \"" + entry->device +
                                                  "\" of history entry " + std::to_string(id) +
                                                  " is no longer configured");
        }
        const HostResult written = engine.writeName(who, catalogued->number, entry->database,
                                                    entry->index, entry->oldText, id);
        if (!written.ok()) {
            return Outcome::failed(statusOf(written), written.error);
        }
        return Outcome::ok({{"restores", id},
                            {"device", catalogued->number},
                            {"database", entry->database},
                            {"index", entry->index},
                            {"text", entry->oldText}});
    });
    send(response, outcome);
}

void NameSetApi::batch(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<1>(request, response);
    if (!path) {
        return;
    }
    const long long id = (*path)[0];
    const Outcome outcome = engine_.call([&](HostEngine& engine) {
        try {
            const std::optional<NameBatch> found = engine.store().batch(id);
            if (!found) {
                return Outcome::failed(kNotFound, "there is no batch " + std::to_string(id));
            }
            json entries = json::array();
            for (const HistoryEntry& entry : engine.store().batchEntries(id)) {
                entries.push_back(entryJson(entry));
            }
            json result = batchJson(*found);
            result["entries"] = entries;
            return Outcome::ok(result);
        } catch (const StoreError& error) {
            return Outcome::failed(statusOf(HostResult::notStored(error)), error.what());
        }
    });
    send(response, outcome);
}

void NameSetApi::undo(const HttpRequest& request, HttpResponse& response) {
    const auto path = pathNumbers<1>(request, response);
    const std::optional<json> body = path ? jsonBody(request, response) : std::nullopt;
    if (!body) {
        return;
    }
    const std::string who = request.who();
    const long long id = (*path)[0];
    const Outcome outcome = engine_.call([&](HostEngine& engine) {
        std::optional<NameBatch> undone;
        std::vector<HistoryEntry> entries;
        // Per device, the names to put back: only those whose newest
        // history entry is still the batch's own, so that nobody's later
        // change is overwritten.
        std::map<int, std::vector<NameChange>> changes;
        json skipped = json::array();
        try {
            undone = engine.store().batch(id);
            if (!undone) {
                return Outcome::failed(kNotFound, "there is no batch " + std::to_string(id));
            }
            for (const HistoryEntry& entry : engine.store().batchEntries(id)) {
                const DeviceSpec* catalogued = engine.devices().catalog().byName(entry.device);
                const long long newest =
                    engine.store().newestEntry(entry.device, entry.database, entry.index);
                if (catalogued != nullptr && newest == entry.id) {
                    changes[catalogued->number].push_back(
                        NameChange{entry.database, entry.index, entry.oldText});
                    continue;
                }
                json skip = entryJson(entry);
                if (catalogued == nullptr) {
                    skip["reason"] = "the device is no longer configured";
                } else if (const auto later = engine.store().historyEntry(newest)) {
                    skip["now"] = later->newText;
                    skip["reason"] = "changed since by " + later->who + " at " + later->time;
                }
                skipped.push_back(skip);
            }
        } catch (const StoreError& error) {
            return Outcome::failed(statusOf(HostResult::notStored(error)), error.what());
        }
        json batches = json::array();
        int restored = 0;
        for (const auto& [device, list] : changes) {
            NameBatch batch{
                0,
                "",
                who,
                "undo",
                "undo of " + undone->kind + " " + std::to_string(id) + " (" + undone->what + ")",
                id};
            const HostResult written = engine.writeBatch(batch, device, list);
            if (!written.ok()) {
                return Outcome::failed(statusOf(written), written.error);
            }
            restored += static_cast<int>(list.size());
            batches.push_back(batchJson(batch));
        }
        return Outcome::ok(
            {{"undoes", id}, {"restored", restored}, {"batches", batches}, {"skipped", skipped}});
    });
    send(response, outcome);
}

}  // namespace panelhost
