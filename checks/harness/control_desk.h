// A client's control requests, each run on a thread of the client's own, one
// at a time, for whoever hands it over and waits: as a client program calls
// GetPrinterDataFromPort while the spooler's thread runs EndDocPort.
#pragma once

#include "tool/control_document.h"
#include "tool/spooler_host.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kestrova::bench {

class ControlDesk {
public:
    explicit ControlDesk(const tool::SpoolerHost& spooler);
    ~ControlDesk();
    ControlDesk(const ControlDesk&) = delete;
    ControlDesk& operator=(const ControlDesk&) = delete;

    tool::ControlAnswer send(const std::string& command);
    // The same, read as a result document; `problem` says what was wrong
    // with an answer that is FALSE or holds no result (empty otherwise).
    tool::ResultValues ask(const std::string& command, std::string& problem);

private:
    void serve();

    const tool::SpoolerHost& spooler_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::optional<std::string> request_;
    std::optional<tool::ControlAnswer> answer_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace kestrova::bench
