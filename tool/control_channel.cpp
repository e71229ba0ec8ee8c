#include "tool/control_channel.h"

#include <chrono>

namespace kestrova::tool {

namespace net = simulator::net;

namespace {

constexpr std::size_t kMaxDocument = 4u << 20;
constexpr int kIdleWaitMs = 50;
// A request waits for the port between two production cycles and makes up
// to three exchanges of at most a few seconds each.
constexpr int kAnswerWaitMs = 60000;
constexpr int kRequestWaitMs = 5000;

// Everything up to the other side's end of sending; false on a failure, a
// time-out or too much.
bool readToEnd(const net::Socket& socket, std::string& out, int waitMs) {
    std::uint8_t buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || net::waitReadable(socket, static_cast<int>(left.count())) != net::Wait::Ready) {
            return false;
        }
        const long n = net::receiveSome(socket, buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
        if (out.size() > kMaxDocument) return false;
    }
}

bool sendText(const net::Socket& socket, const std::string& text) {
    return net::sendAll(socket, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

ControlListener::~ControlListener() { stop(); }

bool ControlListener::listen(const net::Endpoint& endpoint, std::string& error) {
    if (!net::startNetworking(error)) return false;
    listener_ = net::listenOn(endpoint, error);
    if (!listener_.valid()) return false;
    port_ = net::localPort(listener_);
    return true;
}

void ControlListener::start(Handler handler) {
    handler_ = std::move(handler);
    thread_ = std::thread([this] { serve(); });
}

void ControlListener::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    listener_.close();
}

void ControlListener::serve() {
    while (!stopping_) {
        net::Socket client = net::acceptConnection(listener_, kIdleWaitMs);
        if (!client.valid()) continue;
        std::string document;
        if (!readToEnd(client, document, kRequestWaitMs)) {
            sendText(client, "FAILED 0\nthe request did not arrive whole\n");
            continue;
        }
        const ControlReply reply = handler_(document);
        sendText(client, (reply.ok ? std::string("OK\n") : "FAILED " + std::to_string(reply.lastError) + "\n") +
                             reply.document);
        ++served_;
    }
}

bool sendControlDocument(const net::Endpoint& endpoint, const std::string& document, ControlReply& reply,
                         std::string& error) {
    if (!net::startNetworking(error)) return false;
    net::Socket socket = net::connectTo(endpoint, error);
    if (!socket.valid()) return false;
    if (!sendText(socket, document)) {
        error = "the request could not be sent to " + endpoint.text();
        return false;
    }
    net::shutdownSending(socket);
    std::string answer;
    if (!readToEnd(socket, answer, kAnswerWaitMs)) {
        error = "no complete answer from " + endpoint.text();
        return false;
    }
    const auto newline = answer.find('\n');
    const std::string status = answer.substr(0, newline);
    reply.document = newline == std::string::npos ? std::string() : answer.substr(newline + 1);
    if (status == "OK") {
        reply.ok = true;
        return true;
    }
    if (status.rfind("FAILED ", 0) == 0) {
        reply.ok = false;
        try {
            reply.lastError = static_cast<std::uint32_t>(std::stoul(status.substr(7)));
        } catch (const std::exception&) {
            reply.lastError = 0;
        }
        return true;
    }
    error = endpoint.text() + " did not answer as a kestrova print control address";
    return false;
}

}  // namespace kestrova::tool
