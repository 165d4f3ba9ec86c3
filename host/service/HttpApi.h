#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "ChangeFeed.h"
#include "DisplayOutput.h"
#include "EngineThread.h"
#include "EventLog.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace panelhost {

// The routes of the HTTP API (docs/http-api.md) and the static files of the
// browser front end, on a server the caller owns and runs. Every request
// that touches the engine goes through the engine's thread. Bad requests
// get a 4xx answer with a JSON error and change nothing; a body over 64 KiB
// is refused unread (413). No static file is served from outside the web
// folder, also through symbolic links. The server, the engine thread, the
// log and the feed must outlive the routes' use, that is, the server must
// be stopped first.
class HttpApi {
  public:
    // How long the event stream stays silent before it sends a keep-alive.
    static constexpr std::chrono::seconds kKeepAlive{15};
    // Most log entries one request returns.
    static constexpr std::size_t kLogPage = 10000;
    // Most history entries one request returns.
    static constexpr int kHistoryPage = 1000;

    // `displays` (may be null: no display output) must outlive the API.
    HttpApi(httplib::Server& server, EngineThread& engine, EventLog& log, ChangeFeed& feed,
            const std::filesystem::path& webRoot, const DisplayOutput* displays = nullptr);

  private:
    using Request = httplib::Request;
    using Response = httplib::Response;

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
    void stream(const Request& request, Response& response);
    void wall(const Request& request, Response& response);
    void displayOutput(const Request& request, Response& response);

    EngineThread& engine_;
    EventLog& log_;
    ChangeFeed& feed_;
    const DisplayOutput* displays_;
};

}  // namespace panelhost
