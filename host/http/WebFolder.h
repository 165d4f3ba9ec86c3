#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "EventLog.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "InlinePage.h"

namespace panelhost {

// The static files of the browser front end. A request path names a file
// inside the web folder; "/" and paths ending in "/" name the folder's
// index.html. Nothing is served from outside the folder: not through ".."
// segments, nor through symbolic links that lead out (those are logged).
// A file is served with a strong ETag of its content and "no-cache", so a
// browser asks again on every load and an unchanged file costs a 304 with
// no body; text files go gzip-compressed to a client that accepts it (each
// encoding with its own ETag). A path NAME.bundle.js that names no file
// is the bundle of the module NAME.js with everything it imports
// (ModuleBundle), made from the files as they are at the request; a module
// that cannot be bundled is logged and the bundle is missing. A page
// (.html) goes with its style sheet and module bundle inside it and a
// Content-Security-Policy that allows its inline scripts (InlinePage).
// The log must outlive the object; serve() may run on several threads.
class WebFolder {
  public:
    // `root` may be missing or empty: then every file is missing.
    WebFolder(const std::filesystem::path& root, EventLog& log);

    // Answers a GET of the decoded `path` with the request's `headers`
    // (Accept-Encoding, If-None-Match): the file with its type, 304 when
    // the client holds it already, 404 when there is none, 400 for a path
    // that climbs above the folder.
    // A page gets `data` into its data elements (InlinePage); given any,
    // the answer is private to the client.
    void serve(const std::string& path, const HttpRequest::Fields& headers, HttpResponse& response,
               const InlinePage::Data& data = {}) const;

  private:
    static constexpr std::string_view kBundleSuffix = ".bundle.js";

    // The file at `relative` inside the folder; nothing when there is none
    // or it leads outside (logged as a refusal of the request `asked`).
    std::optional<std::string> read(const std::filesystem::path& relative,
                                    const std::string& asked) const;
    // The bundle that `relative` names, if it names one that can be made.
    std::optional<std::string> bundle(const std::filesystem::path& relative,
                                      const std::string& asked) const;

    // `content` (named `tag`) gzip-compressed, from the cache when it was
    // compressed before; empty when zlib fails.
    std::string packed(const std::string& content, const std::string& tag) const;

    // How many compressed answers are kept: every file and page the front
    // end has, a few times over (a page with its state differs by account).
    static constexpr std::size_t kPackedKept = 64;

    std::filesystem::path root_;
    EventLog& log_;
    // The compressed answers by their ETag: a thousand screens loading the
    // same page compress it once. Emptied when full.
    mutable std::mutex packedMutex_;
    mutable std::map<std::string, std::string> packed_;
};

}  // namespace panelhost
