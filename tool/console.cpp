#include "tool/console.h"

namespace kestrova::tool {

void Console::clearStatus() {
    if (status_.empty()) return;
    out_ << '\r' << std::string(status_.size(), ' ') << '\r';
}

void Console::line(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (outputLost_) return;
    clearStatus();
    out_ << text << '\n';
    if (!status_.empty()) out_ << status_;
    out_.flush();
    if (!out_) outputLost_ = true;
}

void Console::finalLine(const std::string& text) {
    line(text);
    if (!outputLost_) return;
    std::lock_guard<std::mutex> guard(lock_);
    err_ << text << '\n';
    err_.flush();
}

void Console::status(const std::string& text) {
    if (!terminal_) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (outputLost_) return;
    clearStatus();
    status_ = text;
    out_ << status_;
    out_.flush();
    if (!out_) outputLost_ = true;
}

void Console::error(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!status_.empty()) {
        out_ << '\n';
        out_.flush();
        status_.clear();
    }
    err_ << "kestrova: " << text << '\n';
    err_.flush();
}

bool Console::statusShown() {
    std::lock_guard<std::mutex> guard(lock_);
    return !status_.empty() && !outputLost_;
}

void Console::endStatus() {
    std::lock_guard<std::mutex> guard(lock_);
    if (status_.empty() || outputLost_) return;
    out_ << '\n';
    out_.flush();
    status_.clear();
}

}  // namespace kestrova::tool
