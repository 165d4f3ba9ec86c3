#pragma once

#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

#include "HttpServer.h"

// The HTTP server's own: what it and its connections (HttpSession.h) share.
// Included by HttpServer.cpp alone, directly or through HttpSession.h, the
// one file that compiles Asio and Beast.
namespace panelhost {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// What the server keeps of a connection that became an event stream,
// whether it runs over TLS or not. Used on the I/O thread only.
class StreamSession {
  public:
    virtual ~StreamSession() = default;
    // Queues a text for the stream; a stream too far behind is closed.
    virtual void push(const std::shared_ptr<const std::string>& text) = 0;
    virtual void close() = 0;
    // Whether the stream was opened by the account (`token` false) or the
    // API token `name`; names compare without regard to case.
    virtual bool openedBy(const std::string& name, bool token) const = 0;
};

// The state of an HttpServer: its I/O context and thread, its listening
// socket, its workers and its open event streams. Members are used on the
// I/O thread unless their comment says otherwise.
struct HttpServer::Impl {
    Impl(HttpService& answering, const Limits& bounds) : service(answering), limits(bounds) {}

    void accept();
    // Sends what was broadcast since the last flush to every stream.
    void flush();
    // `text` framed as one chunk of a chunked body.
    static std::string chunk(const std::string& text);

    HttpService& service;
    Limits limits;
    // Declared first, destroyed last: every socket and timer belongs to it.
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptRetry{io};
    asio::thread_pool workers{kWorkers};
    std::thread ioThread;
    // The open event streams; used on the I/O thread only.
    std::unordered_set<std::shared_ptr<StreamSession>> streams;
    // Read by any thread.
    std::atomic<std::size_t> streamCount{0};
    std::atomic<std::size_t> lagged{0};
    std::atomic<std::size_t> refused{0};
    // Texts broadcast and not yet handed to the streams, under
    // pendingMutex (any thread broadcasts): the changes that come while a
    // text waits (kGather) or is handed out join the next single text
    // instead of costing a thousand writes each.
    std::mutex pendingMutex;
    std::string pending;
    bool flushPosted = false;
    asio::steady_timer gather{io};
    int port = 0;
    // Set when serving HTTPS: the certificate and key every connection uses.
    std::optional<asio::ssl::context> tls;
};

}  // namespace panelhost
