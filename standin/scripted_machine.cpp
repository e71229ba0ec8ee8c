#include "standin/scripted_machine.h"

#include "link/machine_command.h"
#include "link/reply_encoder.h"
#include "link/request_frame.h"
#include "platform/comm_timeouts.h"
#include "standin/platform_standin.h"

#include <algorithm>
#include <utility>

namespace kestrova::standin {

MachineResponse MachineResponse::eot() { return MachineResponse{Kind::Eot, 0, 0, {}}; }
MachineResponse MachineResponse::enq() { return MachineResponse{Kind::Enq, 0, 0, {}}; }
MachineResponse MachineResponse::ack(std::uint8_t completionCode) {
    return MachineResponse{Kind::Ack, 0, completionCode, {}};
}
MachineResponse MachineResponse::nak(std::uint8_t rejectCode) { return MachineResponse{Kind::Nak, 0, rejectCode, {}}; }
MachineResponse MachineResponse::data(std::uint8_t completionCode, Bytes payload) {
    return MachineResponse{Kind::Data, 0, completionCode, std::move(payload)};
}
MachineResponse MachineResponse::silence() { return MachineResponse{Kind::Silence, 0, 0, {}}; }
MachineResponse MachineResponse::raw(Bytes bytes) { return MachineResponse{Kind::Raw, 0, 0, std::move(bytes)}; }

namespace {

// What the monitor wrote since its last read: normally exactly one frame. A
// frame whose writing failed part-way leaves its head in front of the next.
// False when no frame ends the bytes; the request then holds them all.
bool parseWritten(const Bytes& bytes, ReceivedCommand& request) {
    RequestFrame frame;
    for (std::size_t start = 0; start < bytes.size(); ++start) {
        if (bytes[start] != frame_byte::STX) continue;
        const RequestReading reading =
            readRequestFrame(bytes.data() + start, bytes.size() - start, frame, NeedlessEscape::Read);
        if (reading.outcome != RequestParse::Ok) continue;
        request.address = frame.address;
        request.sequence = frame.sequence;
        request.command = frame.command;
        // A frame that our own encoder would not have written the same way (a
        // byte left unstuffed, a needless escape) is marked, but still answered.
        request.wellFormed = start == 0 && reading.canonical;
        request.payload = std::move(frame.payload);
        return true;
    }
    request = ReceivedCommand();
    request.wellFormed = false;
    request.payload = bytes;
    return false;
}

}  // namespace

ScriptedMachine::ScriptedMachine() = default;

long ScriptedMachine::onWrite(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    inbound_.insert(inbound_.end(), data, data + size);
    return static_cast<long>(size);
}

long ScriptedMachine::onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!inbound_.empty()) {
        // The monitor reads only once its frame is written: answer it now.
        ReceivedCommand request;
        const bool framed = parseWritten(inbound_, request);
        inbound_.clear();
        log_.record(request);
        std::optional<MachineResponse> hooked;
        if (hook_) {
            const std::shared_ptr<Hook> hook = hook_;
            guard.unlock();  // the hook may script the machine
            hooked = (*hook)(request);
            guard.lock();
        }
        if (hooked) {
            queueReply(request, *hooked);
        } else if (framed) {
            queueReply(request, machineAnswer(request));
        }
        // Bytes that are no frame at all go unanswered, as on a real line.
    }
    if (outbound_.empty()) {
        guard.unlock();
        // A read that would wait for ever returns at once: the virtual clock
        // cannot pass for ever, and nothing else would wake it.
        if (clockMode() == ClockMode::Virtual) advanceVirtualClock(readWaitMs(timeouts, size).value_or(0));
        return 0;
    }
    const std::size_t count = std::min(size, outbound_.size());
    std::copy_n(outbound_.begin(), count, buffer);
    outbound_.erase(outbound_.begin(), outbound_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<long>(count);
}

MachineResponse ScriptedMachine::machineAnswer(const ReceivedCommand& request) {
    auto scripted = oneOff_.find(request.command);
    if (scripted != oneOff_.end() && !scripted->second.empty()) {
        MachineResponse response = std::move(scripted->second.front());
        scripted->second.pop_front();
        return response;
    }

    if (command::startsOperation(request.command)) return MachineResponse::ack();
    switch (request.command) {
        case command::Poll: {
            RequestFrame poll;
            poll.address = request.address;
            poll.sequence = request.sequence;
            poll.command = request.command;
            const auto finished = [](Operation& operation) {
                if (operation.busyPollsLeft == 0) return true;
                --operation.busyPollsLeft;
                return false;
            };
            return MachineResponse::raw(machine_.poll(poll, finished, [](const Operation&) {}));
        }
        case command::JobSetup:
        case command::RunControl:
            return MachineResponse::data();
        case command::ModuleInfo:
            return MachineResponse::data('0', moduleInfo_);
        default:
            return MachineResponse::nak(0);
    }
}

void ScriptedMachine::queueReply(const ReceivedCommand& request, const MachineResponse& response) {
    const std::uint8_t letter = response.letter != 0 ? response.letter : request.command;
    const MachineAddress& address = request.address;
    const std::uint8_t sequence = request.sequence;
    Bytes wire;
    switch (response.kind) {
        case MachineResponse::Kind::Eot:
            wire = encodeEot(address, sequence);
            break;
        case MachineResponse::Kind::Enq:
            wire = encodeEnq(address, sequence);
            break;
        case MachineResponse::Kind::Ack:
            wire = encodeAck(address, sequence, letter);
            machine_.start(Operation{letter, response.code, busyPolls_});
            break;
        case MachineResponse::Kind::Nak:
            wire = encodeNak(address, sequence, letter, response.code);
            break;
        case MachineResponse::Kind::Data:
            wire = encodeData(address, sequence, letter, response.code, response.payload);
            break;
        case MachineResponse::Kind::Silence:
            return;
        case MachineResponse::Kind::Raw:
            wire = response.payload;
            break;
    }
    outbound_.insert(outbound_.end(), wire.begin(), wire.end());
}

void ScriptedMachine::script(std::uint8_t command, const MachineResponse& response, std::size_t times) {
    std::lock_guard<std::mutex> guard(lock_);
    auto& queue = oneOff_[command];
    for (std::size_t i = 0; i < times; ++i) queue.push_back(response);
}

void ScriptedMachine::setBusyPolls(std::size_t polls) {
    std::lock_guard<std::mutex> guard(lock_);
    busyPolls_ = polls;
}

void ScriptedMachine::setModuleInfo(Bytes text) {
    std::lock_guard<std::mutex> guard(lock_);
    moduleInfo_ = std::move(text);
}

void ScriptedMachine::setHook(Hook hook) {
    std::lock_guard<std::mutex> guard(lock_);
    hook_ = hook ? std::make_shared<Hook>(std::move(hook)) : nullptr;
}

void ScriptedMachine::setRecording(bool record) {
    std::lock_guard<std::mutex> guard(lock_);
    log_.setRecording(record);
}

std::vector<ReceivedCommand> ScriptedMachine::received() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_.entries();
}

std::string ScriptedMachine::commandLetters() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_.letters();
}

std::size_t ScriptedMachine::countOf(std::uint8_t command) const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_.countOf(command);
}

std::size_t ScriptedMachine::frames() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_.total();
}

std::vector<Bytes> ScriptedMachine::payloadsOf(std::uint8_t command) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Bytes> payloads;
    for (const auto& request : log_.entries()) {
        if (request.command == command) payloads.push_back(request.payload);
    }
    return payloads;
}

bool ScriptedMachine::completionPending() const {
    std::lock_guard<std::mutex> guard(lock_);
    return machine_.running() != nullptr;
}

void ScriptedMachine::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    inbound_.clear();
    outbound_.clear();
    oneOff_.clear();
    machine_.abort();
    log_.clear();
}

}  // namespace kestrova::standin
