#pragma once

#include <string>
#include <vector>

#include "EngineThread.h"
#include "EventLog.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "RouteTable.h"

namespace panelhost {

// The routes for bulk work on name sets (docs/http-api.md): CSV import with
// a preview and CSV export, restoring a name from the history, undoing a
// batch, copying and comparing sets, and finding a text in every set. Each
// write goes the way of a single name write: stored in one transaction,
// recorded in the history under the caller (HttpApi::writer), notified to
// the panels and the displays. Reads and writes run on the engine's
// thread. The engine thread and the log must outlive the object; any
// worker thread may call answer().
class NameSetApi {
  public:
    // Most hits one search returns; a text found more often is too short
    // to be useful.
    static constexpr std::size_t kMostHits = 500;

    NameSetApi(EngineThread& engine, EventLog& log);

    // These routes, bound to this object, which must outlive them; any
    // worker thread may run them. An answer 500 is logged as an error.
    std::vector<HttpRoute> routes();

  private:
    void previewImport(const HttpRequest& request, HttpResponse& response);
    void applyImport(const HttpRequest& request, HttpResponse& response);
    void exportSet(const HttpRequest& request, HttpResponse& response);
    void previewCopy(const HttpRequest& request, HttpResponse& response);
    void applyCopy(const HttpRequest& request, HttpResponse& response);
    void compare(const HttpRequest& request, HttpResponse& response);
    void find(const HttpRequest& request, HttpResponse& response);
    void restore(const HttpRequest& request, HttpResponse& response);
    void batch(const HttpRequest& request, HttpResponse& response);
    void undo(const HttpRequest& request, HttpResponse& response);

    void importSet(const HttpRequest& request, HttpResponse& response, bool apply);
    void copySet(const HttpRequest& request, HttpResponse& response, bool apply);

    EngineThread& engine_;
    EventLog& log_;
};

}  // namespace panelhost
