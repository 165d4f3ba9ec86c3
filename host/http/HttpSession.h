#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "HttpServerImpl.h"
#include "HttpStatus.h"
#include "RequestHead.h"
#include "SecurityHeaders.h"

// A connection of the HTTP server; included by HttpServer.cpp alone.
namespace panelhost {

namespace beast = boost::beast;
namespace http = beast::http;
using ErrorCode = beast::error_code;
using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// One connection, over plain TCP (PlainStream) or TLS (TlsStream):
// requests read one after the other, each answered by a worker, until the
// connection closes or becomes an event stream. All its members run on the
// I/O thread, except the service's respond() on a worker while nothing else happens
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
        if constexpr (kTls) {
            // The first byte and the handshake have as long as a request
            // head to arrive.
            transport().expires_after(kIdle);
            transport().async_read_some(
                asio::buffer(&first_, 1),
                [self = this->shared_from_this()](ErrorCode error, std::size_t) {
                    if (error) {
                        self->close();
                    } else if (startsPlainHttp(self->first_)) {
                        self->refusePlainHttp();
                    } else {
                        self->handshake();
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

    bool openedBy(const std::string& name, bool token) const override {
        const std::string& user = request_.user;
        return request_.byToken == token && user.size() == name.size() &&
               std::equal(user.begin(), user.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
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
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;
    static constexpr int kHttp11 = 11;
    // Longest request head: far more than any client of the API or a
    // browser sends; a longer one is refused before it fills memory.
    static constexpr std::uint32_t kLongestHead = 16 * 1024;
    // How long a connection may stay silent between requests, and how long
    // a request may take to arrive.
    static constexpr std::chrono::seconds kIdle{5};
    // After a refusal whose body was not read, what the server still reads
    // and throws away so that the client gets the answer instead of a
    // reset.
    static constexpr std::chrono::seconds kLinger{2};
    static constexpr std::size_t kLingerBytes = 64 * 1024 * 1024;
    static constexpr std::size_t kDiscardBuffer = 4096;
    // What plain HTTP sent to the HTTPS port is told.
    static constexpr const char* kHttpsOnly =
        "This port speaks HTTPS only: open it with an https:// address.\n";

    // Whether a connection's first byte starts plain HTTP: a request line
    // starts with its method's letters, while a TLS record starts with its
    // content type (20 to 24) and an old-style hello with its high bit set.
    static bool startsPlainHttp(char first) {
        return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    }

    // The handshake, with the first byte that was read already.
    void handshake() {
        stream_.async_handshake(asio::ssl::stream_base::server, asio::buffer(&first_, 1),
                                [self = this->shared_from_this()](ErrorCode error, std::size_t) {
                                    if (error) {
                                        self->close();
                                    } else {
                                        self->readHead();
                                    }
                                });
    }

    // Answers plain HTTP on the HTTPS port in plain HTTP, which its client
    // can read, rather than with a closed connection it cannot explain.
    void refusePlainHttp() {
        plain_ = true;
        auto message =
            std::make_shared<http::response<http::string_body>>(http::status::bad_request, kHttp11);
        message->set(http::field::content_type, "text/plain; charset=utf-8");
        harden(*message, false);
        message->keep_alive(false);
        message->body() = kHttpsOnly;
        message->prepare_payload();
        transport().expires_after(HttpServer::kWriteTimeout);
        http::async_write(transport(), *message,
                          [self = this->shared_from_this(), message](ErrorCode error, std::size_t) {
                              if (error) {
                                  self->close();
                              } else {
                                  self->linger();
                              }
                          });
    }

    // Sets the head of an answer: the route's content type and fields, and
    // over them the fields every answer carries.
    template <typename Message>
    static void head(Message& message, const HttpResponse& response) {
        if (!response.contentType.empty()) {
            message.set(http::field::content_type, response.contentType);
        }
        for (const auto& [name, value] : response.headers) {
            message.set(name, value);
        }
        harden(message, kTls);
        if (!response.inlineScripts.empty() || !response.inlineStyles.empty()) {
            message.set(
                "Content-Security-Policy",
                SecurityHeaders::contentPolicy(response.inlineScripts, response.inlineStyles));
        }
    }

    template <typename Message>
    static void harden(Message& message, bool tls) {
        for (const auto& [name, value] : SecurityHeaders::fields(tls)) {
            message.set(name, value);
        }
    }

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
        const auto& message = parser_->get();
        HttpRequest::Fields fields;
        for (const auto& field : message) {
            fields.emplace_back(std::string(field.name_string()), std::string(field.value()));
        }
        const auto method = message.method_string();
        const auto target = message.target();
        if (!RequestHead::fill(std::string_view(method.data(), method.size()),
                               std::string_view(target.data(), target.size()), std::move(fields),
                               request_)) {
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

    // Answers the request here when the service can without waiting,
    // otherwise hands it to a worker; the answer comes back to this thread.
    void dispatch() {
        transport().expires_never();
        {
            HttpResponse response;
            bool answered = false;
            try {
                answered = server_.service.respondAtOnce(request_, response);
            } catch (const std::exception&) {
                response = HttpResponse();
                server_.service.refuse(request_, kServerError, response);
                answered = true;
            }
            if (answered) {
                deliver(response);
                return;
            }
        }
        asio::post(server_.workers, [self = this->shared_from_this()] {
            auto response = std::make_shared<HttpResponse>();
            try {
                self->server_.service.respond(self->request_, *response);
            } catch (const std::exception&) {
                *response = HttpResponse();
                self->server_.service.refuse(self->request_, kServerError, *response);
            }
            asio::post(self->server_.io, [self, response] { self->deliver(*response); });
        });
    }

    void deliver(HttpResponse& response) {
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

    // Sends `response` (its body moved out, or its shared body sent where
    // it is) and then reads the next request, closes, or lingers.
    void write(HttpResponse& response, bool keepAlive, bool unread) {
        const bool headOnly = request_.method == "HEAD";
        if (response.sharedBody) {
            auto message = begin<http::span_body<const char>>(response, keepAlive,
                                                              response.sharedBody->size());
            if (!headOnly) {
                message->body() = {response.sharedBody->data(), response.sharedBody->size()};
            }
            send(std::move(message), std::move(response.sharedBody), keepAlive, unread);
            return;
        }
        auto message = begin<http::string_body>(response, keepAlive, response.body.size());
        if (!headOnly) {
            message->body() = std::move(response.body);
        }
        send(std::move(message), nullptr, keepAlive, unread);
    }

    template <typename Body>
    static std::shared_ptr<http::response<Body>> begin(const HttpResponse& response, bool keepAlive,
                                                       std::size_t length) {
        auto message = std::make_shared<http::response<Body>>(
            static_cast<http::status>(response.status), kHttp11);
        head(*message, response);
        message->keep_alive(keepAlive);
        message->content_length(length);
        return message;
    }

    // Writes `message`, keeping `shared` (what its body points into) alive
    // until it is written.
    template <typename Body>
    void send(std::shared_ptr<http::response<Body>> message,
              std::shared_ptr<const std::string> shared, bool keepAlive, bool unread) {
        transport().expires_after(HttpServer::kWriteTimeout);
        auto& written = *message;
        http::async_write(
            stream_, written,
            [self = this->shared_from_this(), message = std::move(message),
             shared = std::move(shared), keepAlive, unread](ErrorCode error, std::size_t) {
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
        auto discarded = [self = this->shared_from_this()](ErrorCode error, std::size_t count) {
            if (error) {
                self->close();
                return;
            }
            self->discarded_ += count;
            self->discardNext();
        };
        if (plain_) {
            transport().async_read_some(asio::buffer(discard_), std::move(discarded));
        } else {
            stream_.async_read_some(asio::buffer(discard_), std::move(discarded));
        }
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
        auto streamHead =
            std::make_shared<http::response<http::empty_body>>(http::status::ok, kHttp11);
        head(*streamHead, response);
        streamHead->keep_alive(true);
        streamHead->chunked(true);
        auto serializer =
            std::make_shared<http::response_serializer<http::empty_body>>(*streamHead);
        // A pending read finds a client that closes at once; its timer never
        // runs, the writes have theirs.
        transport().expires_never();
        watch();
        writing_ = true;
        transport().expires_after(HttpServer::kWriteTimeout);
        http::async_write_header(stream_, *serializer,
                                 [self = this->shared_from_this(), streamHead, serializer](
                                     ErrorCode error, std::size_t) { self->written(error); });
        // Taken now, on the I/O thread that hands out the broadcasts: every
        // text flushed after this moment follows it on this stream.
        if (response.streamStart) {
            queue_.push_back(std::make_shared<const std::string>(
                HttpServer::Impl::chunk(response.streamStart())));
        }
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
    // The first byte on an HTTPS connection, read to tell TLS from plain
    // HTTP; plain_: the connection speaks plain HTTP on the HTTPS port.
    char first_ = 0;
    bool plain_ = false;
    bool writing_ = false;
    bool streaming_ = false;
    bool closed_ = false;
};

}  // namespace panelhost
