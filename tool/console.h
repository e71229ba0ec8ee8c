// Output shared by several threads: whole lines, and on a terminal one live
// status line that is rewritten in place and kept below the other lines.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>

namespace kestrova::tool {

class Console {
public:
    Console(std::ostream& out, std::ostream& err, bool terminal) : out_(out), err_(err), terminal_(terminal) {}

    void line(const std::string& text);
    // Rewrites the status line on a terminal; elsewhere does nothing.
    void status(const std::string& text);
    void error(const std::string& text);
    // Leaves the status line where it is and moves below it.
    void endStatus();
    bool terminal() const { return terminal_; }
    // A live status line is shown, with nothing after it on its line.
    bool statusShown();
    // The output can no longer be written (a closed pipe): lines go nowhere
    // from then on, and error() still reaches the error stream.
    bool outputLost() const { return outputLost_; }
    // A line that must be seen: on the output, or on the error stream once
    // the output is lost.
    void finalLine(const std::string& text);

private:
    void clearStatus();

    std::mutex lock_;
    std::ostream& out_;
    std::ostream& err_;
    bool terminal_;
    std::atomic<bool> outputLost_{false};
    std::string status_;
};

}  // namespace kestrova::tool
