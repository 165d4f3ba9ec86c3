#pragma once

#include <httplib.h>

#include <memory>
#include <string>

#include "HostProcess.h"

// A client of the host on the loopback interface whose requests all end
// within kRequestTimeout, answered or not, as an admin's script: with an
// API token of the host. The host must outlive the client.
class LoopbackClient {
  public:
    static constexpr int kRequestTimeout = 20;  // seconds

    explicit LoopbackClient(HostProcess& host);

    httplib::Client& http() { return *client_; }

    // Sends `request` exactly as given (request line, headers, blank line,
    // body; a request that is not about how bytes arrive must still name
    // the host and carry a token) on a fresh connection and returns the host's answer: up to the
    // end of its announced body, or whatever came before the host closed
    // the connection or kRequestTimeout passed; empty when it could not
    // connect. `from`, when given, is the loopback address (127.x.y.z) the
    // connection comes from, so that one test can be several clients.
    static std::string exchange(int port, const std::string& request, const std::string& from = "");

  private:
    std::unique_ptr<httplib::Client> client_;
};
