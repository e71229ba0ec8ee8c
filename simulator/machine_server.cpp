#include "simulator/machine_server.h"

#include "simulator/machine_clock.h"

#include <algorithm>

namespace kestrova::simulator {

namespace {
// How often a waiting server looks at its stop flag and at the clock (which
// may be the virtual one, moved by another thread).
constexpr int kIdleWaitMs = 20;
constexpr std::size_t kReceiveBuffer = 4096;
}  // namespace

MachineServer::MachineServer(MachineSimulator& machine) : machine_(machine) {}

MachineServer::~MachineServer() {
    stop();
    if (acceptor_.joinable()) acceptor_.join();
}

bool MachineServer::listen(const net::Endpoint& endpoint, std::string& error) {
    if (!net::startNetworking(error)) return false;
    listener_ = net::listenOn(endpoint, error);
    if (!listener_.valid()) return false;
    port_ = net::localPort(listener_);
    return true;
}

void MachineServer::start() { acceptor_ = std::thread([this] { serve(); }); }

void MachineServer::stop() { stopping_ = true; }

void MachineServer::serve() {
    while (!stopping_) {
        net::Socket socket = net::acceptConnection(listener_, kIdleWaitMs);
        if (!socket.valid()) continue;
        const std::size_t number = ++connections_;
        std::lock_guard<std::mutex> guard(threadsLock_);
        connectionThreads_.emplace_back(
            [this, s = std::move(socket), number]() mutable { serveConnection(std::move(s), number); });
    }
    // Connections still waiting to be accepted are refused with the listener.
    listener_.close();
    std::lock_guard<std::mutex> guard(threadsLock_);
    for (std::thread& thread : connectionThreads_) thread.join();
    connectionThreads_.clear();
}

void MachineServer::serveConnection(net::Socket socket, std::size_t number) {
    say("connection " + std::to_string(number) + " opened");
    MachineLine line(machine_);
    if (observer_) line.setObserver(observer_);
    std::uint8_t buffer[kReceiveBuffer];
    while (!stopping_) {
        // Send what is due, then wait for the host or for the next piece.
        const std::uint64_t now = machine_clock::nowMs();
        std::size_t n;
        while ((n = line.take(buffer, sizeof buffer, now)) > 0) {
            if (!net::sendAll(socket, buffer, n)) {
                say("connection " + std::to_string(number) + " lost");
                return;
            }
        }
        int waitMs = kIdleWaitMs;
        if (const auto next = line.nextArrivalMs()) {
            waitMs = static_cast<int>(std::min<std::uint64_t>(*next > now ? *next - now : 0, kIdleWaitMs));
        }
        const net::Wait ready = net::waitReadable(socket, waitMs);
        if (ready == net::Wait::TimedOut) continue;
        const long got = ready == net::Wait::Ready ? net::receiveSome(socket, buffer, sizeof buffer) : -1;
        if (got <= 0) {
            say("connection " + std::to_string(number) + " closed");
            return;
        }
        line.receiveAll(buffer, static_cast<std::size_t>(got));
    }
}

void MachineServer::say(const std::string& message) const {
    if (log_) log_(message);
}

}  // namespace kestrova::simulator
