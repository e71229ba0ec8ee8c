#include "simulator/frame_trace.h"

#include "link/link_frame.h"
#include "link/machine_command.h"
#include "link/request_frame.h"
#include "simulator/fault_plan.h"
#include "simulator/machine_clock.h"

#include <cstdio>

namespace kestrova::simulator {

namespace {

thread_local const char* tTraceTag = nullptr;

std::string letterName(std::uint8_t letter) {
    std::string name = commandName(letter);
    if (!name.empty()) return name;
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", letter);
    return text;
}

std::string character(std::uint8_t c) {
    if (c >= 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

std::string runControlMeaning(const Bytes& payload) {
    if (payload.size() == 1) {
        switch (payload[0]) {
            case run_control::Pause: return " 3 (pause)";
            case run_control::Continue: return " 4 (continue)";
            case run_control::Step: return " 5 (step)";
            default: break;
        }
    }
    return " " + printable(payload);
}

}  // namespace

std::string hexBytes(const Bytes& bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    char text[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, "%02X", bytes[i]);
        if (i > 0) out.push_back(' ');
        out += text;
    }
    return out;
}

std::string printable(const Bytes& bytes) {
    std::string out;
    char text[8];
    for (std::uint8_t c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(text, sizeof text, "\\x%02X", c);
            out += text;
        }
    }
    return out;
}

std::string describeRequest(const Bytes& frame) {
    RequestFrame request;
    if (readRequestFrame(frame.data(), frame.size(), request).outcome != RequestParse::Ok) return "(damaged frame)";
    std::string out = letterName(request.command);
    if (request.command == command::RunControl) {
        out += runControlMeaning(request.payload);
    } else if (!request.payload.empty()) {
        out += " " + printable(request.payload);
    }
    return out + "  seq " + std::to_string(request.sequence);
}

std::string describeReply(const Bytes& frame) {
    LinkFrame reply;
    if (decode(frame.data(), frame.size(), reply) != decode_result::Frame) return "(no frame)";
    switch (reply.command) {
        case reply::EOT: return "EOT (busy)";
        case reply::ENQ: return "ENQ (ready)";
        case reply::ACK: return "ACK " + letterName(reply.answeredCommand);
        case reply::NAK:
            return "NAK " + letterName(reply.answeredCommand) + ", reject code " + std::to_string(reply.rejectCode);
        default: break;
    }
    std::string out = "data " + letterName(reply.answeredCommand) + ", completion " + character(reply.completionCode);
    if (!reply.payload.empty()) out += ": " + printable(reply.payload);
    return out;
}

void setThreadTraceTag(const char* tag) { tTraceTag = tag; }

FrameTracer::FrameTracer(Sink sink) : sink_(std::move(sink)) {}

void FrameTracer::written(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    // A write starts an exchange: what the last read left is not a reply.
    incoming_.clear();
    outgoing_.insert(outgoing_.end(), data, data + size);
    const auto length = requestFrameLength(outgoing_.data(), outgoing_.size());
    if (!length) return;
    const Bytes frame(outgoing_.begin(), outgoing_.begin() + static_cast<std::ptrdiff_t>(*length));
    outgoing_.erase(outgoing_.begin(), outgoing_.begin() + static_cast<std::ptrdiff_t>(*length));
    ++framesWritten_;
    emit("->", frame, describeRequest(frame));
}

void FrameTracer::read(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    // Decoded as the link does: the whole reply so far after every byte.
    LinkFrame frame;
    for (std::size_t i = 0; i < size; ++i) {
        incoming_.push_back(data[i]);
        if (decode(incoming_.data(), incoming_.size(), frame) == decode_result::Frame) {
            ++framesRead_;
            emit("<-", incoming_, describeReply(incoming_));
            incoming_.clear();
        }
    }
}

void FrameTracer::readNothing(bool waited) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!waited) {
        if (!incoming_.empty()) {
            emit("<-", incoming_, "(no frame in " + std::to_string(incoming_.size()) + " bytes waiting; dropped)");
            incoming_.clear();
        }
        return;
    }
    if (incoming_.empty()) {
        emit("<-", {}, "(nothing: the read timed out)");
    } else {
        emit("<-", incoming_, "(no frame in " + std::to_string(incoming_.size()) + " bytes; the read timed out)");
        incoming_.clear();
    }
}

void FrameTracer::note(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    emit("  ", {}, text);
}

std::size_t FrameTracer::framesWritten() const {
    std::lock_guard<std::mutex> guard(lock_);
    return framesWritten_;
}

std::size_t FrameTracer::framesRead() const {
    std::lock_guard<std::mutex> guard(lock_);
    return framesRead_;
}

void FrameTracer::emit(const char* arrow, const Bytes& bytes, const std::string& meaning) {
    if (!sink_) return;
    char stamp[32];
    const std::uint64_t ms = machine_clock::nowMs();
    std::snprintf(stamp, sizeof stamp, "%7llu.%03llu ", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned long long>(ms % 1000));
    std::string line = stamp;
    line += tTraceTag != nullptr ? tTraceTag : "   ";
    line += ' ';
    line += arrow;
    line += ' ';
    std::string hex = hexBytes(bytes);
    if (hex.size() < 32) hex.resize(32, ' ');
    line += hex;
    line += "  ";
    line += meaning;
    sink_(line);
}

}  // namespace kestrova::simulator
