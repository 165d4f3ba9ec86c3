#include "HttpServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "RequestTarget.h"

namespace panelhost {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = beast::error_code;
using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

constexpr int kBadRequest = 400;
constexpr int kLengthRequired = 411;
constexpr int kPayloadTooLarge = 413;
constexpr int kHeadTooLarge = 431;
constexpr int kServerError = 500;
constexpr int kUnavailable = 503;
constexpr int kHttp11 = 11;
// Longest request head: far more than any client of the API or a browser
// sends; a longer one is refused before it fills memory.
constexpr std::uint32_t kLongestHead = 16 * 1024;
// How long a connection may stay silent between requests, and how long a
// request may take to arrive.
constexpr std::chrono::seconds kIdle{5};
// After a refusal whose body was not read, what the server still reads and
// throws away so that the client gets the answer instead of a reset.
constexpr std::chrono::seconds kLinger{2};
constexpr std::size_t kLingerBytes = 64 * 1024 * 1024;
// How long accepting waits when the process is out of file descriptors.
constexpr std::chrono::milliseconds kAcceptRetry{100};
constexpr std::size_t kDiscardBuffer = 4096;
// How long a broadcast text waits for the ones that follow it before all go
// out together. The changes of one press or one name change come within
// about a millisecond; each text sent on its own would cost every stream a
// write of its own, a thousand system calls per change with a thousand
// pages open.
constexpr std::chrono::milliseconds kGather{2};
// Below this many open streams a change goes out at once: the writes are
// few, and the wait would be most of a press's way to the page.
constexpr std::size_t kGatherFrom = 64;

// `text` framed as one chunk of a chunked body.
std::string chunk(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string size;
    for (std::size_t rest = text.size(); rest > 0; rest /= 16) {
        size.insert(size.begin(), kHex[rest % 16]);
    }
    return size + "\r\n" + text + "\r\n";
}

}  // namespace

// What the server keeps of a connection that became an event stream,
// whether it runs over TLS or not. Used on the I/O thread only.
class StreamSession {
  public:
    virtual ~StreamSession() = default;
    // Queues a text for the stream; a stream too far behind is closed.
    virtual void push(const std::shared_ptr<const std::string>& text) = 0;
    virtual void close() = 0;
};

struct HttpServer::Impl {
    Impl(HttpService& answering, const Limits& bounds) : service(answering), limits(bounds) {}

    void accept();
    // Sends what was broadcast since the last flush to every stream.
    void flush();

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
    std::atomic<std::size_t> streamCount{0};
    std::atomic<std::size_t> lagged{0};
    std::atomic<std::size_t> refused{0};
    // Texts broadcast and not yet handed to the streams: the changes that
    // come while a text waits (kGather) or is handed out join the next
    // single text instead of costing a thousand writes each.
    std::mutex pendingMutex;
    std::string pending;
    bool flushPosted = false;
    asio::steady_timer gather{io};
    int port = 0;
    // Set when serving HTTPS: the certificate and key every connection uses.
    std::optional<asio::ssl::context> tls;
};

// One connection, over plain TCP (PlainStream) or TLS (TlsStream):
// requests read one after the other, each answered by a worker, until the
// connection closes or becomes an event stream. All its members run on the
// I/O thread, except answer()'s work on a worker while nothing else happens
// on the connection.
template <typename Stream>
class HttpSession : public StreamSession, public std::enable_shared_from_this<HttpSession<Stream>> {
  public:
    // `tls`: the TLS context for a TlsStream, nothing for a PlainStream.
    template <typename... Tls>
    HttpSession(HttpServer::Impl& server, tcp::socket connection, Tls&... tls)
        : server_(server), stream_(std::move(connection), tls...) {
        ErrorCode ignored;
        remoteAddr_ = socket().remote_endpoint(ignored).address().to_string();
    }

    void start() {
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            // The handshake has as long as a request head to arrive.
            transport().expires_after(kIdle);
            stream_.async_handshake(asio::ssl::stream_base::server,
                                    [self = this->shared_from_this()](ErrorCode error) {
                                        if (error) {
                                            self->close();
                                        } else {
                                            self->readHead();
                                        }
                                    });
        } else {
            readHead();
        }
    }

    void push(const std::shared_ptr<const std::string>& text) override {
        if (closed_) {
            return;
        }
        if (queue_.size() >= HttpServer::kStreamBacklog) {
            ++server_.lagged;
            close();
            return;
        }
        queue_.push_back(text);
        if (!writing_) {
            writeNext();
        }
    }

    void close() override {
        if (closed_) {
            return;
        }
        closed_ = true;
        queue_.clear();
        ErrorCode ignored;
        socket().shutdown(tcp::socket::shutdown_both, ignored);
        transport().close();
        if (streaming_) {
            server_.streams.erase(this->shared_from_this());
            server_.streamCount = server_.streams.size();
        }
    }

  private:
    // The TCP connection under the stream, with its timer.
    beast::tcp_stream& transport() { return beast::get_lowest_layer(stream_); }
    tcp::socket& socket() { return transport().socket(); }

    void readHead() {
        request_ = HttpRequest();
        request_.remoteAddr = remoteAddr_;
        parser_.emplace();
        parser_->header_limit(kLongestHead);
        // The length is checked once the head is read, so that a refusal
        // can say which request it refuses.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        transport().expires_after(kIdle);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = this->shared_from_this()](ErrorCode error, std::size_t) {
                                    self->onHead(error);
                                });
    }

    void onHead(ErrorCode error) {
        if (error == http::error::header_limit) {
            refuseUnread(kHeadTooLarge);
            return;
        }
        const bool malformed =
            &error.category() == &http::make_error_code(http::error::bad_target).category();
        if (error == http::error::end_of_stream || (error && !malformed)) {
            close();
            return;
        }
        if (error) {
            refuseUnread(kBadRequest);
            return;
        }
        const auto& head = parser_->get();
        request_.method = std::string(head.method_string());
        for (const auto& field : head) {
            request_.headers.emplace_back(std::string(field.name_string()),
                                          std::string(field.value()));
        }
        if (!RequestTarget::read(std::string_view(head.target().data(), head.target().size()),
                                 request_)
                 .empty()) {
            refuseUnread(kBadRequest);
            return;
        }
        // A body in chunks would be read whole whatever its length.
        if (parser_->chunked()) {
            refuseUnread(kLengthRequired);
            return;
        }
        const auto length = parser_->content_length();
        if (length && *length > server_.limits.longestBody) {
            refuseUnread(kPayloadTooLarge);
            return;
        }
        if (parser_->is_done()) {
            dispatch();
            return;
        }
        parser_->body_limit(server_.limits.longestBody);
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](ErrorCode bodyError, std::size_t) {
                             self->onBody(bodyError);
                         });
    }

    void onBody(ErrorCode error) {
        if (error) {
            close();
            return;
        }
        request_.body = std::move(parser_->get().body());
        dispatch();
    }

    // Hands the request to a worker; the answer comes back to this thread.
    void dispatch() {
        transport().expires_never();
        asio::post(server_.workers, [self = this->shared_from_this()] {
            auto response = std::make_shared<HttpResponse>();
            try {
                self->server_.service.answer(self->request_, *response);
            } catch (const std::exception&) {
                *response = HttpResponse();
                self->server_.service.refuse(self->request_, kServerError, *response);
            }
            asio::post(self->server_.io, [self, response] { self->respond(*response); });
        });
    }

    void respond(HttpResponse& response) {
        if (closed_) {
            return;
        }
        if (!response.eventStream) {
            write(response, parser_->get().keep_alive() && !response.close, false);
            return;
        }
        if (server_.streams.size() >= server_.limits.streams) {
            ++server_.refused;
            HttpResponse refusal;
            server_.service.refuse(request_, kUnavailable, refusal);
            refusal.headers.emplace_back("Retry-After",
                                         std::to_string(server_.limits.retryAfter.count()));
            write(refusal, parser_->get().keep_alive(), false);
            return;
        }
        startStream(response);
    }

    // Answers a request whose body stays unread, and closes the connection.
    void refuseUnread(int status) {
        HttpResponse refusal;
        server_.service.refuse(request_, status, refusal);
        write(refusal, false, true);
    }

    void write(const HttpResponse& response, bool keepAlive, bool unread) {
        auto message = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), kHttp11);
        if (!response.contentType.empty()) {
            message->set(http::field::content_type, response.contentType);
        }
        for (const auto& [name, value] : response.headers) {
            message->set(name, value);
        }
        message->keep_alive(keepAlive);
        message->content_length(response.body.size());
        if (request_.method != "HEAD") {
            message->body() = response.body;
        }
        transport().expires_after(HttpServer::kWriteTimeout);
        http::async_write(stream_, *message,
                          [self = this->shared_from_this(), message, keepAlive, unread](
                              ErrorCode error, std::size_t) {
                              if (error) {
                                  self->close();
                              } else if (keepAlive) {
                                  self->readHead();
                              } else if (unread) {
                                  self->linger();
                              } else {
                                  self->close();
                              }
                          });
    }

    // Ends sending and reads what the client still sends until it closes,
    // so that the unread rest of its request does not reset the
    // connection before the client has the answer.
    void linger() {
        ErrorCode ignored;
        socket().shutdown(tcp::socket::shutdown_send, ignored);
        discard_.resize(kDiscardBuffer);
        discardNext();
    }

    void discardNext() {
        if (discarded_ > kLingerBytes) {
            close();
            return;
        }
        transport().expires_after(kLinger);
        stream_.async_read_some(asio::buffer(discard_), [self = this->shared_from_this()](
                                                            ErrorCode error, std::size_t count) {
            if (error) {
                self->close();
                return;
            }
            self->discarded_ += count;
            self->discardNext();
        });
    }

    void startStream(const HttpResponse& response) {
        // Unacknowledged data ends the connection after the write timeout,
        // even while the client's window is open: a vanished client is
        // found by the next keep-alive. A connection that refuses the option
        // (already reset) is closed rather than streamed to without it.
        const int userTimeout = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(HttpServer::kWriteTimeout)
                .count());
        if (setsockopt(socket().native_handle(), IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout,
                       sizeof userTimeout) != 0) {
            close();
            return;
        }
        streaming_ = true;
        server_.streams.insert(this->shared_from_this());
        server_.streamCount = server_.streams.size();
        auto head = std::make_shared<http::response<http::empty_body>>(http::status::ok, kHttp11);
        if (!response.contentType.empty()) {
            head->set(http::field::content_type, response.contentType);
        }
        for (const auto& [name, value] : response.headers) {
            head->set(name, value);
        }
        head->keep_alive(true);
        head->chunked(true);
        auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*head);
        // A pending read finds a client that closes at once; its timer never
        // runs, the writes have theirs.
        transport().expires_never();
        watch();
        writing_ = true;
        transport().expires_after(HttpServer::kWriteTimeout);
        http::async_write_header(stream_, *serializer,
                                 [self = this->shared_from_this(), head, serializer](
                                     ErrorCode error, std::size_t) { self->written(error); });
    }

    // Reads whatever a stream's client sends, which is nothing until it
    // closes the connection.
    void watch() {
        discard_.resize(kDiscardBuffer);
        stream_.async_read_some(asio::buffer(discard_),
                                [self = this->shared_from_this()](ErrorCode error, std::size_t) {
                                    if (error) {
                                        self->close();
                                    } else {
                                        self->watch();
                                    }
                                });
    }

    // Writes everything queued in one go: a client that fell a little
    // behind catches up with one write, not one per text.
    void writeNext() {
        if (closed_ || queue_.empty()) {
            return;
        }
        auto texts = std::make_shared<std::vector<std::shared_ptr<const std::string>>>(
            queue_.begin(), queue_.end());
        queue_.clear();
        std::vector<asio::const_buffer> buffers;
        buffers.reserve(texts->size());
        for (const auto& text : *texts) {
            buffers.push_back(asio::buffer(*text));
        }
        writing_ = true;
        transport().expires_after(HttpServer::kWriteTimeout);
        asio::async_write(stream_, buffers,
                          [self = this->shared_from_this(), texts](ErrorCode error, std::size_t) {
                              self->written(error);
                          });
    }

    void written(ErrorCode error) {
        writing_ = false;
        if (error == beast::error::timeout) {
            // A client that takes in nothing for so long fell behind, as
            // one whose queue overflows.
            ++server_.lagged;
        }
        if (error) {
            close();
            return;
        }
        writeNext();
    }

    HttpServer::Impl& server_;
    Stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpRequest request_;
    std::string remoteAddr_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    std::vector<char> discard_;
    std::size_t discarded_ = 0;
    bool writing_ = false;
    bool streaming_ = false;
    bool closed_ = false;
};

void HttpServer::Impl::flush() {
    std::string texts;
    {
        const std::lock_guard<std::mutex> lock(pendingMutex);
        texts.swap(pending);
        flushPosted = false;
    }
    const auto shared = std::make_shared<const std::string>(std::move(texts));
    // A session that closes while it is fed leaves the set.
    const std::vector<std::shared_ptr<StreamSession>> open(streams.begin(), streams.end());
    for (const auto& session : open) {
        session->push(shared);
    }
}

void HttpServer::Impl::accept() {
    acceptor.async_accept([this](ErrorCode error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor.is_open()) {
            return;
        }
        if (error) {
            // Out of file descriptors: the connection waits in the queue.
            acceptRetry.expires_after(kAcceptRetry);
            acceptRetry.async_wait([this](ErrorCode waited) {
                if (!waited) {
                    accept();
                }
            });
            return;
        }
        // An answer's head and body may go out as two segments: without
        // this the body waits for the client's delayed acknowledgement.
        ErrorCode ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        if (tls) {
            std::make_shared<HttpSession<TlsStream>>(*this, std::move(socket), *tls)->start();
        } else {
            std::make_shared<HttpSession<PlainStream>>(*this, std::move(socket))->start();
        }
        accept();
    });
}

HttpServer::HttpServer(HttpService& service, const std::string& bind, int port,
                       const Limits& limits, const std::optional<TlsFiles>& tls)
    : impl_(std::make_unique<Impl>(service, limits)) {
    if (tls) {
        auto& context = impl_->tls.emplace(asio::ssl::context::tls_server);
        // TLS 1.2 and newer: the older versions have known breaks.
        context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                            asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                            asio::ssl::context::no_tlsv1_1);
        ErrorCode error;
        context.use_certificate_chain_file(tls->certificate.string(), error);
        if (error) {
            throw std::invalid_argument(
                tls->certificate.string() +
                ": not a usable certificate chain (PEM): " + error.message());
        }
        context.use_private_key_file(tls->key.string(), asio::ssl::context::pem, error);
        if (error) {
            throw std::invalid_argument(tls->key.string() +
                                        ": not a usable private key (PEM) for " +
                                        tls->certificate.string() + ": " + error.message());
        }
    }
    tcp::resolver resolver(impl_->io);
    const auto found = resolver.resolve(bind, std::to_string(port), tcp::resolver::passive);
    const tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor& acceptor = impl_->acceptor;
    acceptor.open(endpoint.protocol());
    // Lets a restart bind at once; without SO_REUSEPORT a second server
    // cannot share a port that is in use.
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
    impl_->port = acceptor.local_endpoint().port();
    impl_->accept();
    impl_->ioThread = std::thread([this] { impl_->io.run(); });
}

HttpServer::~HttpServer() {
    impl_->io.stop();
    impl_->ioThread.join();
    impl_->workers.join();
    // The sessions close their sockets while the I/O context still exists.
    impl_->streams.clear();
}

int HttpServer::port() const {
    return impl_->port;
}

void HttpServer::broadcast(const std::string& text) {
    bool post = false;
    {
        const std::lock_guard<std::mutex> lock(impl_->pendingMutex);
        impl_->pending += chunk(text);
        post = !impl_->flushPosted;
        impl_->flushPosted = true;
    }
    if (post) {
        asio::post(impl_->io, [impl = impl_.get()] {
            if (impl->streams.size() < kGatherFrom) {
                impl->flush();
                return;
            }
            impl->gather.expires_after(kGather);
            impl->gather.async_wait([impl](ErrorCode error) {
                if (!error) {
                    impl->flush();
                }
            });
        });
    }
}

void HttpServer::closeStreams() {
    asio::post(impl_->io, [impl = impl_.get()] {
        const std::vector<std::shared_ptr<StreamSession>> streams(impl->streams.begin(),
                                                                  impl->streams.end());
        for (const auto& session : streams) {
            session->close();
        }
    });
}

std::size_t HttpServer::streams() const {
    return impl_->streamCount;
}

std::size_t HttpServer::takeLagged() {
    return impl_->lagged.exchange(0);
}

std::size_t HttpServer::takeRefused() {
    return impl_->refused.exchange(0);
}

}  // namespace panelhost
