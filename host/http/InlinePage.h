#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace panelhost {

// A page of the web folder as the host sends it: with its style sheet and
// its module bundle written into it, so that a browser has all it needs to
// draw in the page's own answer. On a slow network every further request
// the page waits for costs a round trip (half a second on a mobile link).
//
// Two forms are taken in, exactly as the front end writes them:
//   <link rel="stylesheet" href="FILE">         FILE in the page's folder
//   <script type="module" src="FILE"></script>  FILE relative to it
// and JSON texts go into the page's empty data elements
//   <script type="application/json" id="ID"></script>
// with every '<' written as \u003c, so that no text inside ends them.
// A file that is missing, lies elsewhere, or holds text that would end its
// element early ("</style", "</script" or "<!--" in any case) keeps its tag
// and stays a request of its own. Every inline script and style sheet of
// the result, the page's own ones too, is named by its SHA-256 for the
// answer's Content-Security-Policy, which allows those and no other (data
// elements are never run, so they need none).
class InlinePage {
  public:
    // The text of the file `path` (relative to the web folder), or nothing.
    using Reader = std::function<std::optional<std::string>(const std::filesystem::path& path)>;

    struct Page {
        std::string html;
        // CSP sources, 'sha256-BASE64', in the order of the page.
        std::vector<std::string> scripts;
        std::vector<std::string> styles;
    };

    // JSON texts for the data elements, by their ID.
    using Data = std::map<std::string, std::string>;

    // `html` is the page found in `folder` (relative to the web folder).
    // Pure but for `read`; any thread.
    static Page of(std::string_view html, const std::filesystem::path& folder, const Reader& read,
                   const Data& data = {});

  private:
    // The file a tag names, if it can be written into the page.
    static std::optional<std::string> inlinable(std::string_view name, bool sameFolderOnly,
                                                std::string_view closing,
                                                const std::filesystem::path& folder,
                                                const Reader& read);
    // The CSP sources of the inline elements `tag` ("script" or "style").
    static std::vector<std::string> hashes(std::string_view html, std::string_view tag);
};

}  // namespace panelhost
