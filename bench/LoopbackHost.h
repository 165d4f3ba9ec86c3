#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "HostApplication.h"
#include "ScratchFolder.h"

namespace httplib {
class Client;
}

// A panel host in this process, running `panels` instances of the real
// plugin against a fresh data folder made in `parent`, served on a loopback
// port the system chooses, and a client for its HTTP API. The folder is
// removed with everything in it when the object goes. The plugin, layout
// and web folders are those of the build the benchmark was made in.
class LoopbackHost {
  public:
    LoopbackHost(int panels, const std::filesystem::path& parent);
    ~LoopbackHost();

    LoopbackHost(const LoopbackHost&) = delete;
    LoopbackHost& operator=(const LoopbackHost&) = delete;

    int port() const { return host_->port(); }
    // An admin API token of the host, for further clients.
    const std::string& token() const { return token_; }
    // `count` new viewer API tokens, one for each of as many clients.
    std::vector<std::string> viewerTokens(std::size_t count);
    // Event streams the host has open now.
    std::size_t openStreams() const { return host_->openStreams(); }
    // The HTTP status of a request (with a JSON body), or 0 when the
    // request did not get through.
    int get(const std::string& path);
    int post(const std::string& path, const std::string& body);
    int put(const std::string& path, const std::string& body);

  private:
    ScratchFolder data_;
    std::filesystem::path dataFile_;
    std::unique_ptr<panelhost::HostApplication> host_;
    std::string token_;
    std::unique_ptr<httplib::Client> client_;
};
