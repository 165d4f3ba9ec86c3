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
// batch, copying and comparing sets, and finding a text in every set. The
// rules are NameSets' (engine/), run on the engine's thread; these routes
// read the request, hand it over with the caller as the writer, and turn
// what came back into JSON. The engine thread and the log must outlive the
// object.
class NameSetApi {
  public:
    NameSetApi(EngineThread& engine, EventLog& log);

    // These routes, bound to this object, which must outlive them; any
    // worker thread may run them. An answer 500 is logged as an error.
    std::vector<HttpRoute> routes();

  private:
    void exportSet(const HttpRequest& request, HttpResponse& response);
    void compare(const HttpRequest& request, HttpResponse& response);
    void find(const HttpRequest& request, HttpResponse& response);
    void restore(const HttpRequest& request, HttpResponse& response);
    void batch(const HttpRequest& request, HttpResponse& response);
    void undo(const HttpRequest& request, HttpResponse& response);
    // The preview of an import or a copy, or with `apply` the write.
    void importSet(const HttpRequest& request, HttpResponse& response, bool apply);
    void copySet(const HttpRequest& request, HttpResponse& response, bool apply);

    EngineThread& engine_;
    EventLog& log_;
};

}  // namespace panelhost
