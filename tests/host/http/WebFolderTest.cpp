// The web folder's caching and compression, on the real front end's files:
// a browser that accepts gzip gets the text files compressed (and they
// unpack to the file), one that does not gets them as they are, each with
// an ETag its If-None-Match turns into a 304 without a body; a changed file
// gets a new tag; the pages' module bundles come the same way.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "EventLog.h"
#include "HttpStatus.h"
#include "WebFolder.h"

namespace {

using panelhost::EventLog;
using panelhost::HttpRequest;
using panelhost::HttpResponse;
using panelhost::WebFolder;

constexpr std::size_t kLogCapacity = 16;

std::string header(const HttpResponse& response, const std::string& name) {
    for (const auto& [field, value] : response.headers) {
        if (field == name) {
            return value;
        }
    }
    return "";
}

std::string gunzip(const std::string& packed) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    std::string plain;
    char chunk[4096];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        plain.append(chunk, sizeof chunk - stream.avail_out);
    }
    inflateEnd(&stream);
    EXPECT_EQ(result, Z_STREAM_END);
    return plain;
}

std::string read(const std::filesystem::path& file) {
    std::string content(std::filesystem::file_size(file), '\0');
    std::ifstream(file, std::ios::binary)
        .read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

HttpResponse get(const WebFolder& web, const std::string& path, HttpRequest::Fields headers) {
    HttpResponse response;
    web.serve(path, headers, response);
    return response;
}

TEST(WebFolder, TextGoesCompressedToWhoAcceptsItAndAnUnchangedFileIsA304) {
    EventLog log(kLogCapacity);
    const std::filesystem::path root = PANELHOST_WEB;
    const WebFolder web(root, log);
    const std::string style = read(root / "style.css");

    const HttpResponse packed = get(web, "/style.css", {{"Accept-Encoding", "br, gzip;q=0.8"}});
    ASSERT_EQ(packed.status, panelhost::kOk);
    EXPECT_EQ(header(packed, "Content-Encoding"), "gzip");
    EXPECT_EQ(header(packed, "Vary"), "Accept-Encoding");
    EXPECT_EQ(header(packed, "Cache-Control"), "no-cache");
    EXPECT_LT(packed.body.size(), style.size() / 2);
    EXPECT_EQ(gunzip(packed.body), style);

    for (const char* refusing : {"", "identity", "gzip;q=0", "deflate"}) {
        const HttpResponse plain = get(web, "/style.css", {{"accept-encoding", refusing}});
        EXPECT_EQ(header(plain, "Content-Encoding"), "") << refusing;
        EXPECT_EQ(plain.body, style) << refusing;
        EXPECT_NE(header(plain, "ETag"), header(packed, "ETag")) << "each encoding its own tag";
    }

    const std::string tag = header(packed, "ETag");
    ASSERT_FALSE(tag.empty());
    const HttpResponse held =
        get(web, "/style.css", {{"Accept-Encoding", "gzip"}, {"If-None-Match", "\"x\", W/" + tag}});
    EXPECT_EQ(held.status, panelhost::kNotModified);
    EXPECT_TRUE(held.body.empty());
    EXPECT_EQ(header(held, "ETag"), tag);
    EXPECT_EQ(get(web, "/style.css", {{"Accept-Encoding", "gzip"}, {"If-None-Match", "\"other\""}})
                  .status,
              panelhost::kOk);
}

// The pages ask for their modules as bundles: every module of the front
// end is in one of them, each page's bundle comes like a file, and a
// bundle of no module is missing.
TEST(WebFolder, ThePagesBundlesHoldEveryModule) {
    EventLog log(kLogCapacity);
    const std::filesystem::path root = PANELHOST_WEB;
    const WebFolder web(root, log);
    std::string bundles;
    for (const char* page : {"/js/main.bundle.js", "/js/login.bundle.js"}) {
        const HttpResponse bundle = get(web, page, {{"Accept-Encoding", "gzip"}});
        ASSERT_EQ(bundle.status, panelhost::kOk) << page;
        EXPECT_EQ(bundle.contentType, "text/javascript");
        EXPECT_EQ(header(bundle, "Content-Encoding"), "gzip");
        bundles += gunzip(bundle.body);
    }
    for (const auto& file : std::filesystem::recursive_directory_iterator(root / "js")) {
        if (!file.is_regular_file()) {
            continue;
        }
        const std::string module = file.path().lexically_relative(root).generic_string();
        EXPECT_NE(bundles.find("// " + module + "\n"), std::string::npos) << module;
    }
    EXPECT_EQ(get(web, "/js/nothing.bundle.js", {}).status, panelhost::kNotFound);

    // The pages come with their code and style sheet inside: nothing to
    // ask for before they can draw.
    const std::pair<const char*, const char*> pages[] = {{"/", "// js/App.js\n"},
                                                         {"/login.html", "// js/LoginForm.js\n"}};
    for (const auto& [page, module] : pages) {
        const HttpResponse answer = get(web, page, {});
        ASSERT_EQ(answer.status, panelhost::kOk) << page;
        EXPECT_EQ(answer.body.find(" src="), std::string::npos) << page;
        EXPECT_EQ(answer.body.find("rel=\"stylesheet\""), std::string::npos) << page;
        EXPECT_NE(answer.body.find(module), std::string::npos) << page;
        EXPECT_FALSE(answer.inlineScripts.empty()) << page;
        EXPECT_EQ(answer.inlineStyles.size(), 1U) << page;
    }
}

TEST(WebFolder, AChangedFileGetsANewTagAndImagesAreNotCompressedAgain) {
    EventLog log(kLogCapacity);
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "webfolder-test";
    std::filesystem::create_directories(root);
    const std::string page(4096, 'a');
    std::ofstream(root / "index.html") << page;
    std::ofstream(root / "picture.png") << page;
    const WebFolder web(root, log);

    const std::string before = header(get(web, "/", {}), "ETag");
    std::ofstream(root / "index.html") << page << 'b';
    const HttpResponse after = get(web, "/", {{"If-None-Match", before}});
    EXPECT_EQ(after.status, panelhost::kOk);
    EXPECT_NE(header(after, "ETag"), before);

    const HttpResponse picture = get(web, "/picture.png", {{"Accept-Encoding", "gzip"}});
    EXPECT_EQ(header(picture, "Content-Encoding"), "");
    EXPECT_EQ(picture.body, page);
    std::filesystem::remove_all(root);
}

}  // namespace
