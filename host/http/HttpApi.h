#pragma once

#include <filesystem>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ApiSnapshot.h"
#include "DisplayOutput.h"
#include "EngineThread.h"
#include "EventLog.h"
#include "HttpAccess.h"
#include "HttpService.h"
#include "NameSetApi.h"
#include "Published.h"
#include "RouteTable.h"
#include "ServiceMetrics.h"
#include "SnapshotFence.h"
#include "StoreHealth.h"
#include "WebFolder.h"

namespace panelhost {

// The routes of the HTTP API (docs/http-api.md) and the static files of the
// browser front end, as the service of an HttpServer. Every request that
// touches the engine goes through the engine's thread. Bad requests get a
// 4xx answer with a JSON error and change nothing. No static file is served
// from outside the web folder, also through symbolic links. An event stream
// request is answered with the stream's head and a first message of the
// state the panels show (StreamStartText); the changes after it come from a
// StreamFanOut. Before any route, HttpAccess decides whether the client may
// make the request at all; writes are recorded as the account or token that
// made them, with the client's address. The engine thread, the log and the
// access check must outlive the API, and the server must be stopped before
// the API goes.
class HttpApi : public HttpService {
  public:
    // Longest request body taken: the largest a request needs, a CSV
    // import of a whole name set (128 lines of at most 16-byte names), is
    // under 16 KiB even fully escaped. Longer bodies are refused before
    // they are read into memory; so are bodies sent in chunks, which would
    // be read whole whatever their length.
    static constexpr std::size_t kLongestBody = 64 * 1024;
    // Most log entries one request returns.
    static constexpr std::size_t kLogPage = 10000;
    // Most history entries one request returns.
    static constexpr int kHistoryPage = 1000;

    // The path of the login page; /login?once=SECRET takes a one-time
    // login link.
    static constexpr const char* kLoginPage = "/login";
    // The ID of the panels page's data element that a signed-in client's
    // answer brings the first view's state in (startStateJson), so that the
    // page draws before its event stream answers; the stream, asked with
    // ?since=DIGEST, then starts from it.
    static constexpr const char* kStartStateElement = "start-state";

    // `access`, `displays` (may be null: no display output) and `metrics`
    // (may be null: requests are not counted and /metrics is not served)
    // must outlive the API.
    HttpApi(EngineThread& engine, EventLog& log, HttpAccess& access,
            const std::filesystem::path& webRoot, const DisplayOutput* displays = nullptr,
            ServiceMetrics* metrics = nullptr);
    // Stops the engine thread's publishing to this API.
    ~HttpApi() override;

    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Every request passes here: the one route its method and path name is
    // found, the access check refuses what the client may not do by that
    // route's least role, then the route answers; a GET (or HEAD) outside
    // /api/ that no route names is a file of the web folder; anything else
    // is 404 (for a client whose role could see that).
    void respond(HttpRequest& request, HttpResponse& response) override;
    // The reads that answer from the snapshot (and /api/session), when the
    // client's identity is known from memory.
    bool respondAtOnce(HttpRequest& request, HttpResponse& response) override;
    // A JSON error for /api/ paths, the bare status elsewhere.
    void refuse(const HttpRequest& request, int status, HttpResponse& response) override;

    // The store whose state /healthz reports (null: a data file, always
    // there). Set before the server runs; `health` must outlive the API.
    void watchStore(const StoreHealth* health) { store_ = health; }

    // Every route the API answers, as the access check and the metrics see
    // them.
    const RouteTable& routes() const { return routes_; }

    // How far the snapshot the reads and the streams' first messages come
    // from has followed the change feed (the event streams wait on it).
    SnapshotFence& fence() { return fence_; }

  private:
    using Request = HttpRequest;
    using Response = HttpResponse;

    // The routes of this API, of its name-set routes and of the access
    // check, each declared once with its least role.
    std::vector<HttpRoute> declare();
    // Who may make a request no route names.
    static RouteAccess unroutedAccess(const std::string& method, const std::string& path);
    static bool isApiPath(const std::string& path);
    // The newest snapshot; any thread.
    std::shared_ptr<const ApiSnapshot> snapshot() const { return snapshot_.current(); }
    // On the engine thread: the snapshot of the engine now.
    void publish(const HostEngine& engine) noexcept;

    void panels(const Request& request, Response& response);
    void panel(const Request& request, Response& response);
    void controlEvent(const Request& request, Response& response);
    void hostMessage(const Request& request, Response& response);
    void devices(const Request& request, Response& response);
    void device(const Request& request, Response& response);
    void database(const Request& request, Response& response);
    void readName(const Request& request, Response& response);
    void writeName(const Request& request, Response& response);
    void slots(const Request& request, Response& response);
    void readSlot(const Request& request, Response& response);
    void writeSlot(const Request& request, Response& response);
    void logEntries(const Request& request, Response& response);
    void history(const Request& request, Response& response);
    void panelsPage(const Request& request, Response& response);
    void stream(const Request& request, Response& response);
    void wall(const Request& request, Response& response);
    void displayOutput(const Request& request, Response& response);
    void health(const Request& request, Response& response);
    void metricsPage(const Request& request, Response& response);

    WebFolder web_;
    NameSetApi nameSets_;
    EngineThread& engine_;
    HttpAccess& access_;
    EventLog& log_;
    const DisplayOutput* displays_;
    ServiceMetrics* metrics_;
    const StoreHealth* store_ = nullptr;
    const RouteTable routes_;
    // Replaced whole by the engine thread, read by every worker.
    Published<ApiSnapshot> snapshot_;
    // The snapshot published last, on the engine thread only.
    std::shared_ptr<const ApiSnapshot> last_;
    SnapshotFence fence_;
};

}  // namespace panelhost
