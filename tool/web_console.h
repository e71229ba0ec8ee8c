// The console's HTTP server: Boost.Beast over loopback TCP, a thread that
// accepts, one thread per connection (at most a few at a time, each with a
// read time-out), and a looker that keeps the site's view of the machines
// fresh. What each request is answered is the site's business.
#pragma once

#include "tool/console_site.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace kestrova::tool {

class WebConsole {
public:
    explicit WebConsole(ConsoleSite& site);
    ~WebConsole();
    WebConsole(const WebConsole&) = delete;
    WebConsole& operator=(const WebConsole&) = delete;

    // Binds `host` (a loopback IPv4 address) and `port` (0: any free one).
    bool listen(const std::string& host, std::uint16_t port, std::string& error);
    std::uint16_t port() const { return port_; }
    // Serves and looks until stop().
    void start();
    void stop();

private:
    struct Server;
    ConsoleSite& site_;
    std::unique_ptr<Server> server_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread looker_;
};

}  // namespace kestrova::tool
