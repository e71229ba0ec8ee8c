// Watches the bytes of a port in both directions and describes every frame:
// its bytes in hex, direction-marked, with what it means ("Poll", "ACK
// Restore", ...). Bytes that never make a frame are shown when the read that
// should have completed them comes back empty.
#pragma once

#include "link/bytes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace kestrova::simulator {

// The meaning of a request frame, e.g. "Poll" or "JobSetup 06SZX85606SZY540".
std::string describeRequest(const Bytes& frame);
// The meaning of a reply frame, e.g. "ENQ (ready)" or "data Restore, completion 0".
std::string describeReply(const Bytes& frame);
// "02 5A 39 ..."
std::string hexBytes(const Bytes& bytes);
// Bytes shown as text: printable ASCII as is, the rest as \xNN.
std::string printable(const Bytes& bytes);

// Traces of several threads are told apart by a tag ("job", "ctl").
void setThreadTraceTag(const char* tag);

class FrameTracer {
public:
    using Sink = std::function<void(const std::string& line)>;

    // Without a sink, frames are only counted.
    explicit FrameTracer(Sink sink = nullptr);

    void written(const std::uint8_t* data, std::size_t size);
    void read(const std::uint8_t* data, std::size_t size);
    // A read that brought nothing: the reply so far, if any, is given up.
    // A read that did not wait (what is already on the line is read off
    // before a command goes out) is shown only when it drops bytes.
    void readNothing(bool waited = true);

    // A line of its own in the trace, e.g. a fault the machine commits.
    void note(const std::string& text);
    bool hasSink() const { return static_cast<bool>(sink_); }

    std::size_t framesWritten() const;
    std::size_t framesRead() const;

private:
    void emit(const char* arrow, const Bytes& bytes, const std::string& meaning);

    mutable std::mutex lock_;
    Sink sink_;
    Bytes outgoing_;
    Bytes incoming_;
    std::size_t framesWritten_ = 0;
    std::size_t framesRead_ = 0;
};

}  // namespace kestrova::simulator
