#include "simulator/socket.h"

#include "simulator/option_text.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#endif

#include <cstring>

namespace kestrova::simulator::net {

namespace {

#ifdef _WIN32
using Native = SOCKET;
Native native(const Socket& s) { return static_cast<Native>(s.handle()); }
bool isInvalid(Native n) { return n == INVALID_SOCKET; }
void closeNative(Native n) { closesocket(n); }
int pollOne(pollfd* fd, int timeoutMs) { return WSAPoll(fd, 1, timeoutMs); }
bool interrupted() { return false; }
constexpr int kSendFlags = 0;
constexpr int kShutWrite = SD_SEND;
#else
using Native = int;
Native native(const Socket& s) { return static_cast<Native>(s.handle()); }
bool isInvalid(Native n) { return n < 0; }
void closeNative(Native n) { ::close(n); }
int pollOne(pollfd* fd, int timeoutMs) { return ::poll(fd, 1, timeoutMs); }
bool interrupted() { return errno == EINTR; }
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not kill the process
constexpr int kShutWrite = SHUT_WR;
#endif

bool fillAddress(const Endpoint& endpoint, sockaddr_in& address, std::string& error) {
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    const std::string host = endpoint.host == "localhost" ? "127.0.0.1" : endpoint.host;
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        error = "'" + endpoint.host + "' is not an IPv4 address such as 127.0.0.1";
        return false;
    }
    return true;
}

void noDelay(Native n) {
    // Frames are a few bytes each way: send them at once.
    int on = 1;
    setsockopt(n, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

std::string lastSocketError() {
#ifdef _WIN32
    return "socket error " + std::to_string(WSAGetLastError());
#else
    return std::strerror(errno);
#endif
}

}  // namespace

std::string Endpoint::text() const { return host + ":" + std::to_string(port); }

bool parseEndpoint(const std::string& text, Endpoint& out, std::string& error) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        error = "'" + text + "' is not HOST:PORT (for example 127.0.0.1:9150)";
        return false;
    }
    const auto port = option_text::parseUnsigned(text.substr(colon + 1), 65535);
    if (!port) {
        error = "'" + text.substr(colon + 1) + "' is not a port number from 0 to 65535";
        return false;
    }
    Endpoint endpoint{text.substr(0, colon), static_cast<std::uint16_t>(*port)};
    sockaddr_in address{};
    if (!fillAddress(endpoint, address, error)) return false;
    out = endpoint;
    return true;
}

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = kInvalid;
    }
    return *this;
}

void Socket::close() {
    if (valid()) closeNative(static_cast<Native>(handle_));
    handle_ = kInvalid;
}

bool startNetworking(std::string& error) {
#ifdef _WIN32
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) {
        error = "cannot start Windows sockets (" + std::to_string(started) + ")";
        return false;
    }
#else
    (void)error;
#endif
    return true;
}

namespace {

// A TCP socket for the endpoint, its address filled in; invalid with the
// reason when either cannot be had.
Socket streamSocketFor(const Endpoint& endpoint, sockaddr_in& address, std::string& error) {
    if (!fillAddress(endpoint, address, error)) return Socket();
    const Native n = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (isInvalid(n)) {
        error = "cannot create a socket: " + lastSocketError();
        return Socket();
    }
    return Socket(static_cast<std::intptr_t>(n));
}

}  // namespace

Socket listenOn(const Endpoint& endpoint, std::string& error) {
    sockaddr_in address{};
    Socket socket = streamSocketFor(endpoint, address, error);
    if (!socket.valid()) return socket;
    const Native n = native(socket);
    int on = 1;
    setsockopt(n, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    if (::bind(n, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot listen on " + endpoint.text() + ": " + lastSocketError();
        return Socket();
    }
    if (::listen(n, 8) != 0) {
        error = "cannot listen on " + endpoint.text() + ": " + lastSocketError();
        return Socket();
    }
    return socket;
}

std::uint16_t localPort(const Socket& socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Socket acceptConnection(const Socket& listener, int timeoutMs) {
    if (waitReadable(listener, timeoutMs) != Wait::Ready) return Socket();
    const Native n = ::accept(native(listener), nullptr, nullptr);
    if (isInvalid(n)) return Socket();
    noDelay(n);
    return Socket(static_cast<std::intptr_t>(n));
}

Socket connectTo(const Endpoint& endpoint, std::string& error) {
    sockaddr_in address{};
    Socket socket = streamSocketFor(endpoint, address, error);
    if (!socket.valid()) return socket;
    const Native n = native(socket);
    if (::connect(n, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot connect to " + endpoint.text() + ": " + lastSocketError();
        return Socket();
    }
    noDelay(n);
    return socket;
}

Wait waitReadable(const Socket& socket, int timeoutMs) {
    if (!socket.valid()) return Wait::Failed;
    for (;;) {
        pollfd fd{};
        fd.fd = native(socket);
        fd.events = POLLIN;
        const int n = pollOne(&fd, timeoutMs);
        if (n > 0) return Wait::Ready;  // readable, or closed/failed: the receive tells
        if (n == 0) return Wait::TimedOut;
        if (!interrupted()) return Wait::Failed;
    }
}

long sendSome(const Socket& socket, const std::uint8_t* data, std::size_t size) {
    for (;;) {
        const auto n = ::send(native(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), kSendFlags);
        if (n >= 0) return static_cast<long>(n);
        if (!interrupted()) return -1;
    }
}

bool sendAll(const Socket& socket, const std::uint8_t* data, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        const long n = sendSome(socket, data + sent, size - sent);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

long receiveSome(const Socket& socket, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        const auto n = ::recv(native(socket), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
        if (n >= 0) return static_cast<long>(n);
        if (!interrupted()) return -1;
    }
}

void shutdownSending(const Socket& socket) {
    if (socket.valid()) ::shutdown(native(socket), kShutWrite);
}

}  // namespace kestrova::simulator::net
