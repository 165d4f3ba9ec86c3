#pragma once

#include <httplib.h>

#include <memory>
#include <string>

// A client of the host on the loopback interface whose requests all end
// within kRequestTimeout, answered or not.
class LoopbackClient {
  public:
    static constexpr int kRequestTimeout = 20;  // seconds

    explicit LoopbackClient(int port);

    httplib::Client& http() { return *client_; }

    // Sends `request` exactly as given (request line, headers, blank line,
    // body) on a fresh connection and returns the host's answer: up to the
    // end of its announced body, or whatever came before the host closed
    // the connection or kRequestTimeout passed; empty when it could not
    // connect.
    static std::string exchange(int port, const std::string& request);

  private:
    std::unique_ptr<httplib::Client> client_;
};
