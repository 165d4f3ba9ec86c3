#include "LoopbackHost.h"

#include <httplib.h>

#include "SqliteAccountStore.h"

namespace {
constexpr char kLoopback[] = "127.0.0.1";
constexpr char kJson[] = "application/json";

int statusOf(const httplib::Result& result) {
    return result ? result->status : 0;
}
}  // namespace

LoopbackHost::LoopbackHost(int panels, const std::filesystem::path& parent) : data_(parent) {
    panelhost::HostOptions options;
    options.plugin = NAMESET_BENCH_PLUGIN;
    options.layouts = NAMESET_BENCH_LAYOUTS;
    options.web = NAMESET_BENCH_WEB;
    options.data = data_.path();
    options.bind = kLoopback;
    options.port = 0;
    options.panels = panels;
    // The benchmark's own output stays on the terminal, and quiet.
    options.captureStderr = false;
    options.consoleLog = false;
    host_ = std::make_unique<panelhost::HostApplication>(options);
    // Measured as a script on the studio network is served: with a token.
    dataFile_ = options.dataFile();
    token_ =
        panelhost::SqliteAccountStore(dataFile_).createToken(panelhost::Role::Admin, "bench").token;
    client_ = std::make_unique<httplib::Client>(kLoopback, host_->port());
    client_->set_bearer_token_auth(token_);
    client_->set_keep_alive(true);
    // The client writes a request's head and body apart; without this the
    // body waits for the acknowledgement of the head, which the system
    // delays by up to 40 ms.
    client_->set_tcp_nodelay(true);
}

LoopbackHost::~LoopbackHost() = default;

std::vector<std::string> LoopbackHost::viewerTokens(std::size_t count) {
    panelhost::SqliteAccountStore accounts(dataFile_);
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < count; ++i) {
        tokens.push_back(accounts.createToken(panelhost::Role::Viewer, "").token);
    }
    return tokens;
}

int LoopbackHost::get(const std::string& path) {
    return statusOf(client_->Get(path));
}

int LoopbackHost::post(const std::string& path, const std::string& body) {
    return statusOf(client_->Post(path, body, kJson));
}

int LoopbackHost::put(const std::string& path, const std::string& body) {
    return statusOf(client_->Put(path, body, kJson));
}
