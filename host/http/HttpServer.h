#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "HttpService.h"

namespace panelhost {

template <typename Stream>
class HttpSession;

// An event-driven HTTP/1.1 server: one I/O thread reads requests and writes
// answers on every connection without ever waiting on them, a small pool of
// worker threads runs the service's respond() for each request, and
// connections that became event streams are fed by broadcast() from their
// own bounded queues. A stream whose client does not keep up, or stops
// acknowledging, is closed; streams beyond the limit are refused with 503
// and Retry-After. Served over TLS when given a certificate and key; plain
// HTTP sent to a TLS server is answered 400 in plain HTTP, saying so. A
// request with more than one Host field is refused with 400 before the
// service sees it. Every answer, the server's own refusals included,
// carries SecurityHeaders' fields. The service must outlive the server;
// every member may be called from any thread.
class HttpServer {
  public:
    struct Limits {
        // Longest request body read; longer ones are refused unread (413).
        std::size_t longestBody = 64 * 1024;
        // Most event streams open at once.
        std::size_t streams = 2048;
        // What a refused stream is told to wait before it tries again.
        std::chrono::seconds retryAfter{5};
    };

    // Threads that run the service's answers: enough that a slow answer
    // (a history query on a busy disk) does not hold up the others, few
    // because the engine behind most routes serves one call at a time.
    static constexpr std::size_t kWorkers = 4;
    // Texts a stream may have waiting before it counts as fallen behind:
    // each text is every change of one moment, so this is seconds of
    // changes for a client that reads at all.
    static constexpr std::size_t kStreamBacklog = 256;
    // How long a write to a client may take, and how long a stream's sent
    // data may stay unacknowledged, before the connection is dropped; with
    // the keep-alive texts a vanished client is found within 5 s.
    static constexpr std::chrono::seconds kWriteTimeout{3};

    // The files of an HTTPS server, both PEM.
    struct TlsFiles {
        std::filesystem::path certificate;  // the chain, the server's first
        std::filesystem::path key;
    };

    // Listens on `bind`:`port` (0: a free port the system chooses) and
    // starts serving, over TLS when `tls` is given. Throws
    // std::runtime_error, saying why, when the address cannot be listened on
    // (a port in use, an address not of this machine), and
    // std::invalid_argument when the certificate or key cannot be used.
    HttpServer(HttpService& service, const std::string& bind, int port, const Limits& limits,
               const std::optional<TlsFiles>& tls = std::nullopt);
    // Stops serving and closes every connection.
    ~HttpServer();

    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const;

    // Sends `text` on every open event stream, in the order of the calls.
    void broadcast(const std::string& text);

    // Closes every open event stream; their clients reconnect.
    void closeStreams();
    // Closes the event streams opened by the account (`token` false) or
    // API token `name`, whose rights changed; their clients reconnect and
    // are checked again.
    void closeStreamsOf(const std::string& name, bool token);

    // Event streams open now.
    std::size_t streams() const;
    // Streams closed because their client fell behind, and streams refused
    // at the limit, since the last call.
    std::size_t takeLagged();
    std::size_t takeRefused();

  private:
    template <typename Stream>
    friend class HttpSession;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace panelhost
