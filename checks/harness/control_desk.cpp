#include "checks/harness/control_desk.h"

#include "simulator/frame_trace.h"
#include "tool/text_encoding.h"

#include <utility>

namespace kestrova::bench {

ControlDesk::ControlDesk(const tool::SpoolerHost& spooler) : spooler_(spooler), thread_([this] { serve(); }) {}

ControlDesk::~ControlDesk() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

tool::ControlAnswer ControlDesk::send(const std::string& command) {
    std::unique_lock<std::mutex> guard(lock_);
    request_ = command;
    answer_.reset();
    changed_.notify_all();
    changed_.wait(guard, [this] { return answer_.has_value(); });
    return *answer_;
}

tool::ResultValues ControlDesk::ask(const std::string& command, std::string& problem) {
    problem.clear();
    const tool::ControlAnswer answer = send(command);
    if (answer.result != TRUE) {
        problem = command + " answered FALSE (error " + std::to_string(answer.lastError) + ")";
        return {};
    }
    tool::ResultValues values = tool::readResultDocument(tool::utf8FromUtf16(answer.text));
    if (!values.hasResult) problem = command + " answered with no result document";
    return values;
}

void ControlDesk::serve() {
    simulator::setThreadTraceTag("ctl");
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stopping_ || request_.has_value(); });
        if (!request_) return;
        const std::string command = *request_;
        request_.reset();
        guard.unlock();
        tool::ControlAnswer answer = spooler_.control(tool::utf16FromUtf8(tool::controlRequestText(command)));
        guard.lock();
        answer_ = std::move(answer);
        changed_.notify_all();
    }
}

}  // namespace kestrova::bench
