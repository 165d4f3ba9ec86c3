#include "InlinePage.h"

#include <algorithm>
#include <cctype>

#include "ContentDigest.h"

namespace panelhost {
namespace {

constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCommentClose = "-->";
constexpr std::string_view kStyleLink = "<link rel=\"stylesheet\" href=\"";
constexpr std::string_view kStyleLinkEnd = "\">";
constexpr std::string_view kModuleScript = "<script type=\"module\" src=\"";
constexpr std::string_view kModuleScriptEnd = "\"></script>";
constexpr std::string_view kScriptClose = "</script>";
constexpr std::string_view kStyleClose = "</style>";
constexpr std::string_view kDataElement = "<script type=\"application/json\" id=\"";
constexpr std::string_view kDataElementEnd = "\"></script>";
// JSON's escape of '<' inside a string (outside strings JSON has none).
constexpr std::string_view kEscapedLess = "\\u003c";

bool startsAt(std::string_view text, std::size_t at, std::string_view prefix) {
    return text.substr(at, prefix.size()) == prefix;
}

// A tag whose file is taken into the page: `tag` NAME `tagEnd` becomes
// `opening` FILE'S TEXT `closing`.
struct Taken {
    std::string_view tag;
    std::string_view tagEnd;
    bool sameFolderOnly;
    std::string_view opening;
    std::string_view closing;
};
const Taken kTaken[] = {
    // A style sheet's url() and @import name files relative to it, so it is
    // taken in only from the page's own folder.
    {kStyleLink, kStyleLinkEnd, true, "<style>", kStyleClose},
    {kModuleScript, kModuleScriptEnd, false, "<script type=\"module\">", kScriptClose},
};

// The form of a tag taken in that starts at `at`, if one does.
const Taken* takenAt(std::string_view html, std::size_t at) {
    for (const Taken& form : kTaken) {
        if (startsAt(html, at, form.tag)) {
            return &form;
        }
    }
    return nullptr;
}

// Whether `text` holds `needle` (lower case) in any case.
bool holdsFolded(std::string_view text, std::string_view needle) {
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           }) != text.end();
}

// The end of the element that starts at `at` and closes with `closing`
// (past it), or the end of the text when it never closes.
std::size_t pastClosing(std::string_view html, std::size_t at, std::string_view closing) {
    const std::size_t found = html.find(closing, at);
    return found == std::string_view::npos ? html.size() : found + closing.size();
}

// The CSP source of an inline element's text, as browsers compute it over
// the text's bytes.
std::string sourceOf(std::string_view text) {
    return "'sha256-" + ContentDigest::base64(text) + "'";
}

}  // namespace

std::optional<std::string> InlinePage::inlinable(std::string_view name, bool sameFolderOnly,
                                                 std::string_view closing,
                                                 const std::filesystem::path& folder,
                                                 const Reader& read) {
    const bool elsewhere = name.empty() || name.front() == '/' ||
                           name.find(':') != std::string_view::npos ||
                           (sameFolderOnly && name.find('/') != std::string_view::npos);
    if (elsewhere) {
        return std::nullopt;
    }
    std::optional<std::string> text = read((folder / std::string(name)).lexically_normal());
    if (!text || holdsFolded(*text, closing.substr(0, closing.size() - 1)) ||
        holdsFolded(*text, kCommentOpen)) {
        return std::nullopt;
    }
    return text;
}

InlinePage::Page InlinePage::of(std::string_view html, const std::filesystem::path& folder,
                                const Reader& read, const Data& data) {
    Page page;
    std::size_t at = 0;
    while (at < html.size()) {
        const std::size_t tag = html.find('<', at);
        if (tag == std::string_view::npos) {
            page.html.append(html.substr(at));
            break;
        }
        page.html.append(html.substr(at, tag - at));
        std::size_t end = tag + 1;
        if (startsAt(html, tag, kCommentOpen)) {
            end = pastClosing(html, tag, kCommentClose);
        } else if (const Taken* form = takenAt(html, tag)) {
            const std::size_t name = tag + form->tag.size();
            end = pastClosing(html, name, form->tagEnd);
            if (const auto text = inlinable(html.substr(name, end - form->tagEnd.size() - name),
                                            form->sameFolderOnly, form->closing, folder, read)) {
                page.html.append(form->opening).append(*text).append(form->closing);
                at = end;
                continue;
            }
        } else if (startsAt(html, tag, kDataElement)) {
            const std::size_t id = tag + kDataElement.size();
            end = pastClosing(html, id, kDataElementEnd);
            const auto json =
                data.find(std::string(html.substr(id, end - kDataElementEnd.size() - id)));
            if (json != data.end()) {
                page.html.append(html.substr(tag, end - kScriptClose.size() - tag));
                for (const char c : json->second) {
                    if (c == '<') {
                        page.html.append(kEscapedLess);
                    } else {
                        page.html += c;
                    }
                }
                page.html.append(kScriptClose);
                at = end;
                continue;
            }
        } else if (startsAt(html, tag, "<script")) {
            end = pastClosing(html, tag, kScriptClose);
        } else if (startsAt(html, tag, "<style")) {
            end = pastClosing(html, tag, kStyleClose);
        }
        page.html.append(html.substr(tag, end - tag));
        at = end;
    }
    page.scripts = hashes(page.html, "script");
    page.styles = hashes(page.html, "style");
    return page;
}

std::vector<std::string> InlinePage::hashes(std::string_view html, std::string_view tag) {
    const std::string open = "<" + std::string(tag);
    const std::string closing = "</" + std::string(tag) + ">";
    std::vector<std::string> sources;
    std::size_t at = 0;
    while ((at = html.find('<', at)) != std::string_view::npos) {
        if (startsAt(html, at, kCommentOpen)) {
            at = pastClosing(html, at, kCommentClose);
            continue;
        }
        const std::size_t afterName = at + open.size();
        const bool opens = startsAt(html, at, open) && afterName < html.size() &&
                           (html[afterName] == '>' || html[afterName] == ' ');
        if (!opens) {
            ++at;
            continue;
        }
        const std::size_t startTagEnd = html.find('>', afterName);
        if (startTagEnd == std::string_view::npos) {
            break;
        }
        const std::size_t close = html.find(closing, startTagEnd);
        const std::size_t textEnd = close == std::string_view::npos ? html.size() : close;
        const std::string_view startTag = html.substr(at, startTagEnd - at);
        const bool run = startTag.find(" src=") == std::string_view::npos &&
                         startTag.find(" type=\"application/json\"") == std::string_view::npos;
        if (run) {
            sources.push_back(sourceOf(html.substr(startTagEnd + 1, textEnd - startTagEnd - 1)));
        }
        at = close == std::string_view::npos ? html.size() : close + closing.size();
    }
    return sources;
}

}  // namespace panelhost
