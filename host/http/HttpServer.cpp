#include "HttpServer.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HttpSession.h"

namespace panelhost {
namespace {

// How long accepting waits when the process is out of file descriptors.
constexpr std::chrono::milliseconds kAcceptRetry{100};
// How long a broadcast text waits for the ones that follow it before all go
// out together. The changes of one press or one name change come within
// about a millisecond; each text sent on its own would cost every stream a
// write of its own, a thousand system calls per change with a thousand
// pages open.
constexpr std::chrono::milliseconds kGather{2};
// Below this many open streams a change goes out at once: the writes are
// few, and the wait would be most of a press's way to the page.
constexpr std::size_t kGatherFrom = 64;

}  // namespace

std::string HttpServer::Impl::chunk(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string size;
    for (std::size_t rest = text.size(); rest > 0; rest /= 16) {
        size.insert(size.begin(), kHex[rest % 16]);
    }
    return size + "\r\n" + text + "\r\n";
}

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
        impl_->pending += Impl::chunk(text);
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

void HttpServer::closeStreamsOf(const std::string& name, bool token) {
    asio::post(impl_->io, [impl = impl_.get(), name, token] {
        std::vector<std::shared_ptr<StreamSession>> opened;
        for (const auto& session : impl->streams) {
            if (session->openedBy(name, token)) {
                opened.push_back(session);
            }
        }
        for (const auto& session : opened) {
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
