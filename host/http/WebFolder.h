#pragma once

#include <filesystem>
#include <string>

#include "EventLog.h"
#include "HttpResponse.h"

namespace panelhost {

// The static files of the browser front end. A request path names a file
// inside the web folder; "/" and paths ending in "/" name the folder's
// index.html. Nothing is served from outside the folder: not through ".."
// segments, nor through symbolic links that lead out (those are logged).
// The log must outlive the object; serve() may run on several threads.
class WebFolder {
  public:
    // `root` may be missing or empty: then every file is missing.
    WebFolder(const std::filesystem::path& root, EventLog& log);

    // Answers a GET of the decoded `path`: the file with its type, 404 when
    // there is none, 400 for a path that climbs above the folder.
    void serve(const std::string& path, HttpResponse& response) const;

  private:
    std::filesystem::path root_;
    EventLog& log_;
};

}  // namespace panelhost
