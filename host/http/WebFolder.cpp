#include "WebFolder.h"

#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "HttpStatus.h"

namespace panelhost {
namespace {

// The types of the files the front end is made of.
const std::pair<const char*, const char*> kTypes[] = {
    {".html", "text/html"}, {".js", "text/javascript"},    {".mjs", "text/javascript"},
    {".css", "text/css"},   {".json", "application/json"}, {".svg", "image/svg+xml"},
    {".png", "image/png"},  {".jpg", "image/jpeg"},        {".ico", "image/x-icon"},
    {".txt", "text/plain"}, {".woff2", "font/woff2"},      {".map", "application/json"},
};
constexpr const char* kUnknownType = "application/octet-stream";

const char* typeOf(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    for (const auto& [suffix, type] : kTypes) {
        if (extension == suffix) {
            return type;
        }
    }
    return kUnknownType;
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

void WebFolder::serve(const std::string& path, HttpResponse& response) const {
    std::vector<std::string> resolved;
    if (path.empty() || path.front() != '/' || !segments(path, resolved)) {
        response.status = kBadRequest;
        return;
    }
    response.status = kNotFound;
    if (root_.empty()) {
        return;
    }
    std::filesystem::path file = root_;
    for (const std::string& segment : resolved) {
        file /= segment;
    }
    if (path.back() == '/') {
        file /= "index.html";
    }
    std::error_code missing;
    const std::filesystem::path real = std::filesystem::canonical(file, missing);
    if (missing) {
        return;
    }
    const std::filesystem::path inside = real.lexically_relative(root_);
    if (inside.empty() || *inside.begin() == "..") {
        log_.add(0, "warning", "refused " + path + ": it leads outside the web folder");
        return;
    }
    if (!std::filesystem::is_regular_file(real, missing)) {
        return;
    }
    const std::uintmax_t size = std::filesystem::file_size(real, missing);
    std::string content(missing ? 0 : size, '\0');
    std::ifstream in(real, std::ios::binary);
    if (missing || !in.read(content.data(), static_cast<std::streamsize>(content.size()))) {
        return;
    }
    response.status = 200;
    response.contentType = typeOf(file);
    response.body = std::move(content);
}

}  // namespace panelhost
