#include "checks/matrix/lying_wire.h"

#include "link/frame_receiver.h"
#include "link/link_session.h"
#include "link/machine_command.h"
#include "simulator/machine_clock.h"

#include <algorithm>

namespace kestrova::matrix {

namespace {

constexpr std::uint64_t kOwnPollEveryMs = 100;
constexpr std::size_t kOwnPollsAtMost = 200;

}  // namespace

const char* lieName(Lie lie) {
    switch (lie) {
        case Lie::ChangedByte: return "a Personalize text with one byte changed";
        case Lie::CardTwice: return "a card's Personalize and Eject sent twice";
        case Lie::EjectSwallowed: return "every Eject swallowed and reported done";
        case Lie::CardSkipped: return "a card skipped";
        case Lie::ReplyOneLate: return "every reply handed over one command late";
    }
    return "";
}

const std::vector<Lie>& everyLie() {
    static const std::vector<Lie> lies{Lie::ChangedByte, Lie::CardTwice, Lie::EjectSwallowed, Lie::CardSkipped,
                                       Lie::ReplyOneLate};
    return lies;
}

long LyingWire::onWrite(const std::uint8_t* data, std::size_t size) {
    inbound_.insert(inbound_.end(), data, data + size);
    for (;;) {
        const auto stx = std::find(inbound_.begin(), inbound_.end(), frame_byte::STX);
        inbound_.erase(inbound_.begin(), stx);
        if (inbound_.empty()) break;
        const auto length = requestFrameLength(inbound_.data(), inbound_.size());
        if (!length) break;
        Bytes frame(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(*length));
        inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(*length));
        fromHost(std::move(frame));
    }
    return static_cast<long>(size);
}

void LyingWire::fromHost(Bytes frame) {
    RequestFrame request;
    if (readRequestFrame(frame.data(), frame.size(), request).outcome != RequestParse::Ok) {
        toMachine(frame);
        return;
    }
    const std::uint8_t letter = request.command;
    if (letter == command::JobSetup) lastSetup_ = request.payload;
    if (letter == command::Personalize) lastPersonalisation_ = request.payload;
    switch (lie_) {
        case Lie::ChangedByte:
            if (letter == command::Personalize && !request.payload.empty()) {
                std::uint8_t& last = request.payload.back();
                last = last == 'X' ? 'Y' : 'X';
                frame = encodeRequest(request.address, request.sequence, letter, request.payload);
            }
            break;
        case Lie::CardTwice:
            if (replayDue_ && letter != command::Poll) {
                replayDue_ = false;
                makeLastCardAgain();
            }
            if (letter == command::Eject && !cardDone_) replayDue_ = true;
            break;
        case Lie::EjectSwallowed:
            if (letter == command::Eject || (letter == command::Poll && pending_ == command::Eject)) {
                answerAsMachine(request);
                return;
            }
            break;
        case Lie::CardSkipped:
            if (letter == command::Eject) ++ejects_;
            if (letter == command::PreLoad && ejects_ == 1 && !faking_ && !cardDone_) faking_ = true;
            if (faking_) {
                answerAsMachine(request);
                if (letter == command::Poll && pending_ == 0 && cardDone_) faking_ = false;
                return;
            }
            break;
        case Lie::ReplyOneLate:
            // The reply kept from the last command is what this one gets.
            toHost_.insert(toHost_.end(), held_.begin(), held_.end());
            held_.clear();
            break;
    }
    toMachine(frame);
}

void LyingWire::toMachine(const Bytes& frame) { machine_.onWrite(frame.data(), frame.size()); }

void LyingWire::answerAsMachine(const RequestFrame& request) {
    Bytes reply;
    switch (request.command) {
        case command::Poll:
            if (pending_ != 0) {
                reply = request.data(pending_, '0');
                if (pending_ == command::Eject) cardDone_ = true;
                pending_ = 0;
            } else {
                reply = request.enq();
            }
            break;
        case command::JobSetup: reply = request.data(command::JobSetup, '0'); break;
        default:
            reply = request.ack(request.command);
            pending_ = request.command;
            break;
    }
    toHost_.insert(toHost_.end(), reply.begin(), reply.end());
}

std::optional<LinkFrame> LyingWire::ownExchange(std::uint8_t command, const Bytes& payload) {
    ownSequence_ = static_cast<std::uint8_t>(ownSequence_ == 254 ? 32 : ownSequence_ + 1);
    toMachine(encodeRequest(defaultMachineAddress(), ownSequence_, command, payload));
    FrameReceiver receiver;
    const COMMTIMEOUTS timeouts = linkTimeouts();
    for (;;) {
        std::uint8_t byte = 0;
        if (machine_.onRead(&byte, 1, timeouts) <= 0) return std::nullopt;
        if (receiver.push(byte) == decode_result::Frame) {
            LinkFrame frame;
            receiver.complete(frame);
            return frame;
        }
    }
}

void LyingWire::makeLastCardAgain() {
    cardDone_ = true;
    const std::pair<std::uint8_t, const Bytes*> steps[] = {{command::PreLoad, nullptr},
                                                           {command::Load, nullptr},
                                                           {command::JobSetup, &lastSetup_},
                                                           {command::Personalize, &lastPersonalisation_},
                                                           {command::Eject, nullptr}};
    static const Bytes none;
    for (const auto& [letter, payload] : steps) {
        const auto reply = ownExchange(letter, payload != nullptr ? *payload : none);
        if (!reply || reply->command != reply::ACK) continue;
        for (std::size_t polls = 0; polls < kOwnPollsAtMost; ++polls) {
            simulator::machine_clock::waitMs(kOwnPollEveryMs);
            const auto done = ownExchange(command::Poll, none);
            if (done && done->command == letter) break;
        }
    }
}

long LyingWire::onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) {
    if (size == 0) return 0;
    if (!toHost_.empty()) {
        const std::size_t n = std::min(size, toHost_.size());
        std::copy_n(toHost_.begin(), n, buffer);
        toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<long>(n);
    }
    if (lie_ != Lie::ReplyOneLate) return machine_.onRead(buffer, size, timeouts);
    // Every byte the machine sends is kept back; a whole reply waits for the
    // next command. The host hears nothing until then.
    for (;;) {
        std::uint8_t byte = 0;
        if (machine_.onRead(&byte, 1, timeouts) <= 0) return 0;
        partial_.push_back(byte);
        LinkFrame frame;
        if (decode(partial_.data(), partial_.size(), frame) == decode_result::Frame) {
            held_.insert(held_.end(), partial_.begin(), partial_.end());
            partial_.clear();
        }
    }
}

}  // namespace kestrova::matrix
