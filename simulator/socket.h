// A small TCP layer for the loopback transports: one owning socket type and
// the handful of calls the machine server, the socket port and the control
// channel need. Blocking sockets; waits go through poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrova::simulator::net {

struct Endpoint {
    std::string host;  // a dotted IPv4 address; "localhost" reads as 127.0.0.1
    std::uint16_t port = 0;

    std::string text() const;
};

// "HOST:PORT"; false with the reason in `error`.
bool parseEndpoint(const std::string& text, Endpoint& out, std::string& error);

class Socket {
public:
    Socket() = default;
    explicit Socket(std::intptr_t handle) : handle_(handle) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool valid() const { return handle_ != kInvalid; }
    std::intptr_t handle() const { return handle_; }
    void close();

    static constexpr std::intptr_t kInvalid = -1;

private:
    std::intptr_t handle_ = kInvalid;
};

// Once per process before any socket (Windows needs it; elsewhere a no-op).
bool startNetworking(std::string& error);

// Listens on the endpoint (port 0: any free port).
Socket listenOn(const Endpoint& endpoint, std::string& error);
std::uint16_t localPort(const Socket& socket);
// Waits up to timeoutMs for a connection; an invalid socket when none came.
Socket acceptConnection(const Socket& listener, int timeoutMs);
Socket connectTo(const Endpoint& endpoint, std::string& error);

enum class Wait { Ready, TimedOut, Failed };
// timeoutMs < 0 waits without limit.
Wait waitReadable(const Socket& socket, int timeoutMs);

// Bytes sent, or -1 when the connection failed.
long sendSome(const Socket& socket, const std::uint8_t* data, std::size_t size);
bool sendAll(const Socket& socket, const std::uint8_t* data, std::size_t size);
// Bytes received; 0 when the other side closed; -1 on failure.
long receiveSome(const Socket& socket, std::uint8_t* buffer, std::size_t size);
// Tells the other side that nothing more will be sent.
void shutdownSending(const Socket& socket);

}  // namespace kestrova::simulator::net
