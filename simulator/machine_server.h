// The simulated machine served on a TCP address: every connection is a line
// to the same machine, answered frame by frame; reply pieces go out when
// they are due.
#pragma once

#include "simulator/machine_line.h"
#include "simulator/socket.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kestrova::simulator {

class MachineServer {
public:
    using Log = std::function<void(const std::string& message)>;

    explicit MachineServer(MachineSimulator& machine);
    ~MachineServer();
    MachineServer(const MachineServer&) = delete;
    MachineServer& operator=(const MachineServer&) = delete;

    // Binds the address (port 0: any free port); false with the reason.
    bool listen(const net::Endpoint& endpoint, std::string& error);
    std::uint16_t port() const { return port_; }

    // Accepts and serves connections until stop(); on the calling thread.
    void serve();
    // serve() on a thread of the server's own.
    void start();
    // Ends serve() and every connection; safe from any thread.
    void stop();

    // Connection messages; frames in both directions (for --trace).
    void setLog(Log log) { log_ = std::move(log); }
    void setObserver(MachineLine::FrameObserver observer) { observer_ = std::move(observer); }

    std::size_t connectionsServed() const { return connections_; }

private:
    void serveConnection(net::Socket socket, std::size_t number);
    void say(const std::string& message) const;

    MachineSimulator& machine_;
    net::Socket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> connections_{0};
    Log log_;
    MachineLine::FrameObserver observer_;
    std::thread acceptor_;
    std::mutex threadsLock_;
    std::list<std::thread> connectionThreads_;
};

}  // namespace kestrova::simulator
