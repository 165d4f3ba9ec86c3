#include "WebFolder.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "ContentDigest.h"
#include "HttpStatus.h"
#include "ModuleBundle.h"

namespace panelhost {
namespace {

struct FileType {
    const char* suffix;
    const char* type;
    // Text that gzip shrinks; images and fonts are compressed already.
    bool compressible;
};

// The types of the files the front end is made of.
const FileType kTypes[] = {
    {".html", "text/html", true},        {".js", "text/javascript", true},
    {".mjs", "text/javascript", true},   {".css", "text/css", true},
    {".json", "application/json", true}, {".svg", "image/svg+xml", true},
    {".png", "image/png", false},        {".jpg", "image/jpeg", false},
    {".ico", "image/x-icon", false},     {".txt", "text/plain", true},
    {".woff2", "font/woff2", false},     {".map", "application/json", true},
};
constexpr FileType kUnknownType = {"", "application/octet-stream", false};

// Below this size the gzip header and the extra round of work cost more
// than compression saves.
constexpr std::size_t kLeastCompressed = 256;
// zlib's window bits, plus 16 for a gzip wrapper rather than a zlib one.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemoryLevel = 8;
// The ETag is this many bytes of the content's SHA-256, in hex: enough
// that two versions of a file never share one.
constexpr std::size_t kTagBytes = 16;
// The browser asks again on every load: the files have no versioned
// names, so a new build must be seen at once; an unchanged file is a 304.
constexpr const char* kCacheControl = "no-cache";
// A page given data holds the client's own (its account's state): no
// shared cache may keep it.
constexpr const char* kPrivateCacheControl = "private, no-cache";

const FileType& typeOf(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    for (const FileType& type : kTypes) {
        if (extension == type.suffix) {
            return type;
        }
    }
    return kUnknownType;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The values of every header field named `name`, joined with commas as
// repeated fields mean.
std::string fieldValue(const HttpRequest::Fields& headers, const std::string& name) {
    std::string joined;
    for (const auto& [field, value] : headers) {
        if (lower(field) == name) {
            joined += (joined.empty() ? "" : ",") + value;
        }
    }
    return joined;
}

// The comma-separated items of a field value, trimmed.
std::vector<std::string> items(const std::string& value) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t end = std::min(value.find(',', start), value.size());
        std::string item = value.substr(start, end - start);
        const std::size_t first = item.find_first_not_of(" \t");
        const std::size_t last = item.find_last_not_of(" \t");
        if (first != std::string::npos) {
            found.push_back(item.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return found;
}

// Whether Accept-Encoding names gzip (or "*") without refusing it ("q=0").
bool acceptsGzip(const HttpRequest::Fields& headers) {
    for (const std::string& item : items(lower(fieldValue(headers, "accept-encoding")))) {
        const std::size_t semicolon = item.find(';');
        std::string coding = item.substr(0, semicolon);
        coding.erase(coding.find_last_not_of(" \t") + 1);
        if (coding != "gzip" && coding != "*") {
            continue;
        }
        if (semicolon == std::string::npos) {
            return true;
        }
        std::string parameters = item.substr(semicolon + 1);
        parameters.erase(std::remove(parameters.begin(), parameters.end(), ' '), parameters.end());
        const std::size_t q = parameters.find("q=");
        return q == std::string::npos || std::strtod(parameters.c_str() + q + 2, nullptr) > 0.0;
    }
    return false;
}

// Whether If-None-Match names `tag` (weak or strong) or is "*".
bool holds(const HttpRequest::Fields& headers, const std::string& tag) {
    for (std::string item : items(fieldValue(headers, "if-none-match"))) {
        if (item.rfind("W/", 0) == 0) {
            item.erase(0, 2);
        }
        if (item == "*" || item == tag) {
            return true;
        }
    }
    return false;
}

// A strong ETag of `content`: part of its SHA-256 in hex, quoted.
std::string tagOf(const std::string& content) {
    return "\"" + ContentDigest::hex(content, kTagBytes);
}

// `content` gzip-compressed; empty when zlib fails (the file then goes as
// it is).
std::string gzip(const std::string& content) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }
    std::string packed(deflateBound(&stream, static_cast<uLong>(content.size())), '\0');
    // zlib's interface is C's: it reads through a non-const pointer.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    const int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? packed : std::string();
}

// The path's segments with "." and ".." resolved; false when ".." climbs
// above the root or a segment holds a NUL.
bool segments(const std::string& path, std::vector<std::string>& resolved) {
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string segment = path.substr(start, end - start);
        if (segment.find('\0') != std::string::npos) {
            return false;
        }
        if (segment == "..") {
            if (resolved.empty()) {
                return false;
            }
            resolved.pop_back();
        } else if (!segment.empty() && segment != ".") {
            resolved.push_back(segment);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

WebFolder::WebFolder(const std::filesystem::path& root, EventLog& log) : log_(log) {
    std::error_code missing;
    if (!root.empty()) {
        root_ = std::filesystem::canonical(root, missing);
    }
}

std::optional<std::string> WebFolder::read(const std::filesystem::path& relative,
                                           const std::string& asked) const {
    std::error_code missing;
    const std::filesystem::path real = std::filesystem::canonical(root_ / relative, missing);
    if (missing) {
        return std::nullopt;
    }
    const std::filesystem::path inside = real.lexically_relative(root_);
    if (inside.empty() || *inside.begin() == "..") {
        log_.add(0, "warning", "refused " + asked + ": it leads outside the web folder");
        return std::nullopt;
    }
    if (!std::filesystem::is_regular_file(real, missing)) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(real, missing);
    std::string content(missing ? 0 : size, '\0');
    std::ifstream in(real, std::ios::binary);
    if (missing || !in.read(content.data(), static_cast<std::streamsize>(content.size()))) {
        return std::nullopt;
    }
    return content;
}

std::optional<std::string> WebFolder::bundle(const std::filesystem::path& relative,
                                             const std::string& asked) const {
    const std::string name = relative.filename().string();
    if (name.size() <= kBundleSuffix.size() ||
        name.compare(name.size() - kBundleSuffix.size(), kBundleSuffix.size(), kBundleSuffix) !=
            0) {
        return std::nullopt;
    }
    const std::filesystem::path entry =
        relative.parent_path() / (name.substr(0, name.size() - kBundleSuffix.size()) + ".js");
    try {
        return ModuleBundle::of(entry, [this, &asked](const std::filesystem::path& module) {
            return read(module, asked);
        });
    } catch (const std::runtime_error& error) {
        log_.add(0, "error", "cannot serve " + asked + ": " + error.what());
        return std::nullopt;
    }
}

std::string WebFolder::packed(const std::string& content, const std::string& tag) const {
    {
        const std::lock_guard<std::mutex> lock(packedMutex_);
        const auto found = packed_.find(tag);
        if (found != packed_.end()) {
            return found->second;
        }
    }
    std::string made = gzip(content);
    if (!made.empty()) {
        const std::lock_guard<std::mutex> lock(packedMutex_);
        if (packed_.size() >= kPackedKept) {
            packed_.clear();
        }
        packed_.emplace(tag, made);
    }
    return made;
}

void WebFolder::serve(const std::string& path, const HttpRequest::Fields& headers,
                      HttpResponse& response, const InlinePage::Data& data) const {
    std::vector<std::string> resolved;
    if (path.empty() || path.front() != '/' || !segments(path, resolved)) {
        response.status = kBadRequest;
        return;
    }
    response.status = kNotFound;
    if (root_.empty()) {
        return;
    }
    std::filesystem::path file;
    for (const std::string& segment : resolved) {
        file /= segment;
    }
    if (path.back() == '/') {
        file /= "index.html";
    }
    std::optional<std::string> found = read(file, path);
    if (!found) {
        found = bundle(file, path);
    }
    if (!found) {
        return;
    }
    std::string content = std::move(*found);
    const FileType& type = typeOf(file);
    if (file.extension() == ".html") {
        InlinePage::Page page = InlinePage::of(
            content, file.parent_path(),
            [this, &path](const std::filesystem::path& part) {
                std::optional<std::string> text = read(part, path);
                return text ? text : bundle(part, path);
            },
            data);
        content = std::move(page.html);
        response.inlineScripts = std::move(page.scripts);
        response.inlineStyles = std::move(page.styles);
    }
    const std::string identityTag = tagOf(content);
    const std::string gzipTag = identityTag + "-gzip\"";
    const bool compress =
        type.compressible && content.size() >= kLeastCompressed && acceptsGzip(headers);
    response.headers.emplace_back("Cache-Control",
                                  data.empty() ? kCacheControl : kPrivateCacheControl);
    response.headers.emplace_back("Vary", "Accept-Encoding");
    if (holds(headers, compress ? gzipTag : identityTag + "\"")) {
        response.headers.emplace_back("ETag", compress ? gzipTag : identityTag + "\"");
        response.status = kNotModified;
        return;
    }
    response.status = kOk;
    response.contentType = type.type;
    std::string packed = compress ? this->packed(content, gzipTag) : std::string();
    if (!packed.empty()) {
        response.headers.emplace_back("ETag", gzipTag);
        response.headers.emplace_back("Content-Encoding", "gzip");
        response.body = std::move(packed);
        return;
    }
    response.headers.emplace_back("ETag", identityTag + "\"");
    response.body = std::move(content);
}

}  // namespace panelhost
