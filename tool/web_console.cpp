#include "tool/web_console.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <list>
#include <mutex>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <sys/time.h>
#endif

namespace kestrova::tool {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr int kReadTimeoutMs = 5000;
constexpr std::size_t kMostConnections = 16;
constexpr std::size_t kLargestBody = 4096;
constexpr std::size_t kLargestHeader = 8192;
constexpr auto kLookEvery = std::chrono::milliseconds(500);

// A client that connects and says nothing must not hold a thread for ever.
void limitReads(tcp::socket& socket) {
#ifdef _WIN32
    const DWORD ms = kReadTimeoutMs;
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
#else
    timeval limit{kReadTimeoutMs / 1000, (kReadTimeoutMs % 1000) * 1000};
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
#endif
}

std::string header(const http::request<http::string_body>& request, http::field field) {
    const auto found = request.find(field);
    return found == request.end() ? std::string() : std::string(found->value());
}

void serveConnection(ConsoleSite& site, tcp::socket socket) {
    limitReads(socket);
    beast::error_code failure;
    beast::flat_buffer buffer;
    for (int served = 0; served < 100; ++served) {
        http::request_parser<http::string_body> parser;
        parser.body_limit(kLargestBody);
        parser.header_limit(kLargestHeader);
        http::read(socket, buffer, parser, failure);
        if (failure) break;
        const auto& request = parser.get();
        HttpRequest asked;
        asked.method = std::string(request.method_string());
        asked.target = std::string(request.target());
        asked.host = header(request, http::field::host);
        asked.origin = header(request, http::field::origin);
        const auto token = request.find("X-Kestrova-Token");
        asked.token = token == request.end() ? std::string() : std::string(token->value());
        asked.body = request.body();
        const HttpReply reply = site.answer(asked);

        http::response<http::string_body> response{static_cast<http::status>(reply.status), request.version()};
        response.set(http::field::server, "kestrova console");
        response.set(http::field::content_type, reply.contentType);
        response.set(http::field::cache_control, "no-store");
        response.set("X-Content-Type-Options", "nosniff");
        response.set("X-Frame-Options", "DENY");
        response.set("Content-Security-Policy",
                     "default-src 'none'; script-src 'self'; style-src 'unsafe-inline'; connect-src 'self'; "
                     "frame-ancestors 'none'");
        response.keep_alive(request.keep_alive());
        response.body() = reply.body;
        response.prepare_payload();
        http::write(socket, response, failure);
        if (failure || !response.keep_alive()) break;
    }
    socket.shutdown(tcp::socket::shutdown_both, failure);
}

}  // namespace

struct WebConsole::Server {
    asio::io_context context;
    tcp::acceptor acceptor{context};
    std::thread acceptingThread;
    std::mutex lock;
    std::size_t open = 0;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    };
    std::list<Connection> connections;

    // Joins the connections that have ended (under `lock`).
    void reap() {
        for (auto each = connections.begin(); each != connections.end();) {
            if (each->done->load()) {
                each->thread.join();
                each = connections.erase(each);
            } else {
                ++each;
            }
        }
    }

    void accept(ConsoleSite& site) {
        acceptor.async_accept([this, &site](beast::error_code failure, tcp::socket socket) {
            if (failure) return;  // closed: stopping
            {
                std::lock_guard<std::mutex> hold(lock);
                reap();
                if (open < kMostConnections) {
                    ++open;
                    Connection& connection = connections.emplace_back();
                    connection.thread = std::thread([this, &site, done = connection.done, s = std::move(socket)]() mutable {
                        try {
                            serveConnection(site, std::move(s));
                        } catch (const std::exception&) {
                            // A connection's trouble is its own; the console goes on.
                        }
                        std::lock_guard<std::mutex> finished(lock);
                        --open;
                        *done = true;
                    });
                }
            }
            accept(site);
        });
    }
};

WebConsole::WebConsole(ConsoleSite& site) : site_(site), server_(std::make_unique<Server>()) {}

WebConsole::~WebConsole() { stop(); }

bool WebConsole::listen(const std::string& host, std::uint16_t port, std::string& error) {
    beast::error_code failure;
    const auto address = asio::ip::make_address_v4(host == "localhost" ? "127.0.0.1" : host, failure);
    if (failure) {
        error = "'" + host + "' is no IPv4 address";
        return false;
    }
    const tcp::endpoint endpoint{address, port};
    server_->acceptor.open(endpoint.protocol(), failure);
    if (!failure) server_->acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
    if (!failure) server_->acceptor.bind(endpoint, failure);
    if (!failure) server_->acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + failure.message();
        return false;
    }
    port_ = server_->acceptor.local_endpoint().port();
    return true;
}

void WebConsole::start() {
    site_.look();
    server_->accept(site_);
    server_->acceptingThread = std::thread([this] {
        try {
            server_->context.run();
        } catch (const std::exception&) {
        }
    });
    looker_ = std::thread([this] {
        auto next = std::chrono::steady_clock::now() + kLookEvery;
        while (!stopping_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            if (site_.lookAsked() || std::chrono::steady_clock::now() >= next) {
                site_.look();
                next = std::chrono::steady_clock::now() + kLookEvery;
            }
        }
    });
}

void WebConsole::stop() {
    if (stopping_.exchange(true)) return;
    asio::post(server_->context, [this] {
        beast::error_code ignored;
        server_->acceptor.close(ignored);
    });
    server_->context.stop();
    if (server_->acceptingThread.joinable()) server_->acceptingThread.join();
    if (looker_.joinable()) looker_.join();
    // Each connection ends within its read time-out.
    std::list<Server::Connection> connections;
    {
        std::lock_guard<std::mutex> hold(server_->lock);
        connections.swap(server_->connections);
    }
    for (Server::Connection& each : connections) {
        if (each.thread.joinable()) each.thread.join();
    }
}

}  // namespace kestrova::tool
