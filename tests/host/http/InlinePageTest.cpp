// What a page takes in and what it leaves as a request of its own, and the
// hashes its policy is made of: one per inline element, in the page's
// order, over exactly the element's text.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "InlinePage.h"

namespace {

using panelhost::InlinePage;

const std::map<std::string, std::string> kFiles = {
    {"style.css", "body { margin: 0 }\n"},
    {"js/main.bundle.js", "const a = 1;\n"},
    {"js/ends-early.js", "const text = '</SCRIPT>';\n"},
    {"js/comment.js", "// <!-- looks like a comment\n"},
    {"sub/style.css", "p { color: red }\n"},
    {"sub/page.js", "export const b = 2;\n"},
};

InlinePage::Page inlined(const std::string& html, const std::string& folder = "") {
    return InlinePage::of(html, folder, [](const std::filesystem::path& path) {
        const auto found = kFiles.find(path.generic_string());
        return found == kFiles.end() ? std::nullopt : std::optional<std::string>(found->second);
    });
}

// Tags that stay as they are: in a comment, a file whose text would end its
// element, a missing file, one outside the page's reach, a style sheet of
// another folder.
const std::string kLeftAlone =
    "<!-- <script type=\"module\" src=\"js/main.bundle.js\"></script> -->\n"
    "<script type=\"module\" src=\"js/ends-early.js\"></script>\n"
    "<script type=\"module\" src=\"js/comment.js\"></script>\n"
    "<script type=\"module\" src=\"js/missing.js\"></script>\n"
    "<script type=\"module\" src=\"/js/main.bundle.js\"></script>\n"
    "<script type=\"module\" src=\"https://elsewhere.example/x.js\"></script>\n"
    "<link rel=\"stylesheet\" href=\"sub/style.css\">\n"
    "</head>";

TEST(InlinePage, TakesInItsStyleSheetAndModulesAndLeavesWhatCannotBeInlined) {
    const InlinePage::Page page = inlined(
        "<head>\n"
        "<script>window.early = 1;</script>\n"
        "<link rel=\"stylesheet\" href=\"style.css\">\n"
        "<script type=\"module\" src=\"js/main.bundle.js\"></script>\n" +
        kLeftAlone);
    EXPECT_EQ(page.html,
              "<head>\n"
              "<script>window.early = 1;</script>\n"
              "<style>body { margin: 0 }\n</style>\n"
              "<script type=\"module\">const a = 1;\n</script>\n" +
                  kLeftAlone);
    // SHA-256 in base64 of "window.early = 1;" and "const a = 1;\n", and of
    // "body { margin: 0 }\n" (as `printf ... | openssl dgst -sha256 -binary
    // | base64` computes them).
    EXPECT_EQ(page.scripts,
              (std::vector<std::string>{"'sha256-py00WdQ/C3XAckY034AGJ6achcnvjjDNR2tu11bZabs='",
                                        "'sha256-t5sUvSWE3VKw8O8EKipPEEzaSDMFAOEiN3N8xR+9pD0='"}));
    EXPECT_EQ(page.styles,
              (std::vector<std::string>{"'sha256-tNXesvGaWcyGg+RDJEJF+tfC6aIuILAtwgaGmMaalSg='"}));
}

TEST(InlinePage, APageInAFolderTakesInFilesRelativeToIt) {
    const InlinePage::Page page = inlined(
        "<link rel=\"stylesheet\" href=\"style.css\"><script type=\"module\" "
        "src=\"page.js\"></script><script type=\"module\" src=\"../js/main.bundle.js\"></script>",
        "sub");
    EXPECT_EQ(page.html,
              "<style>p { color: red }\n</style><script type=\"module\">export const b = 2;\n"
              "</script><script type=\"module\">const a = 1;\n</script>");
    EXPECT_EQ(page.scripts.size(), 2U);
    EXPECT_EQ(page.styles.size(), 1U);
}

}  // namespace
