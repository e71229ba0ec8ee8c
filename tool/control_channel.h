// The loopback channel over which `kestrova control --to` reaches a running
// `kestrova print`, standing in for the spooler routing a client's request
// to the monitor that owns the port. A client sends one kx_api document in
// UTF-8 and closes its sending side; the answer is a status line ("OK", or
// "FAILED <GetLastError value>") and the result document.
#pragma once

#include "simulator/socket.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kestrova::tool {

struct ControlReply {
    bool ok = false;
    std::uint32_t lastError = 0;
    std::string document;  // UTF-8
};

class ControlListener {
public:
    using Handler = std::function<ControlReply(const std::string& document)>;

    ControlListener() = default;
    ~ControlListener();
    ControlListener(const ControlListener&) = delete;
    ControlListener& operator=(const ControlListener&) = delete;

    bool listen(const simulator::net::Endpoint& endpoint, std::string& error);
    std::uint16_t port() const { return port_; }
    // Serves requests one after another on a thread of its own.
    void start(Handler handler);
    void stop();
    std::size_t requestsServed() const { return served_; }

private:
    void serve();

    simulator::net::Socket listener_;
    std::uint16_t port_ = 0;
    Handler handler_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> served_{0};
    std::thread thread_;
};

// One request to a listener; false with the reason when it could not be
// delivered or answered.
bool sendControlDocument(const simulator::net::Endpoint& endpoint, const std::string& document, ControlReply& reply,
                         std::string& error);

}  // namespace kestrova::tool
