// What the console's web page asks and what it is answered, without any
// socket: the page, its script, the machines as JSON, and the actions. Every
// request must name this console's own address as its Host (no other name
// that may point here, so no page of another site can reach it), and every
// request but the page and its script must carry the page's token.
#pragma once

#include "tool/machine_directory.h"
#include "tool/machine_report.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova::tool {

struct HttpRequest {
    std::string method;  // "GET", "POST"
    std::string target;  // "/api/machines"
    std::string host;    // the Host header
    std::string origin;  // the Origin header, empty when there is none
    std::string token;   // the X-Kestrova-Token header
    std::string body;    // application/x-www-form-urlencoded for actions
};

struct HttpReply {
    int status = 200;
    std::string contentType;
    std::string body;
};

class ConsoleSite {
public:
    // `hosts`: the Host values that name this console ("127.0.0.1:9480").
    ConsoleSite(MachineDirectory& directory, std::string token, std::vector<std::string> hosts);

    // Before the first request: the Host values once the port is known.
    void allowHosts(std::vector<std::string> hosts) { hosts_ = std::move(hosts); }

    HttpReply answer(const HttpRequest& request);
    // Asks every machine for get_info again (the console's looker does,
    // every half second, and after every action).
    void look();
    // Whether an action asked for a look since the last call.
    bool lookAsked() { return lookAsked_.exchange(false); }
    const std::string& token() const { return token_; }

private:
    HttpReply act(const HttpRequest& request);

    MachineDirectory& directory_;
    const std::string token_;
    std::vector<std::string> hosts_;
    std::mutex lock_;
    std::string snapshot_ = "[]\n";
    std::vector<MachineReport> reports_;
    JobProgress progress_;
    std::atomic<bool> lookAsked_{false};
};

// A fresh token: 128 random bits in hex.
std::string newConsoleToken();

// "a=1&b=x%20y" into its fields; false when it is not well-formed.
bool readFormFields(const std::string& body, std::map<std::string, std::string>& out);

}  // namespace kestrova::tool
