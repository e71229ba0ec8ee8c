#include "tests/wine/machine_peer.h"

#include "simulator/fault_plan.h"
#include "simulator/frame_trace.h"

#include <chrono>
#include <thread>

namespace kestrova::wine_check {

namespace {

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

MachinePeer::MachinePeer() : machine_(simulator::MachineDurations::instant()), peer_(machine_) {
    peer_.line().setObserver([this](bool fromHost, const Bytes& frame) {
        const std::string meaning =
            fromHost ? simulator::describeRequest(frame) : simulator::describeReply(frame);
        std::lock_guard<std::mutex> guard(recordLock_);
        frameRecord_ += (fromHost ? "-> " : "<- ") + simulator::hexBytes(frame) + "  " + meaning + "\n";
    });
}

bool MachinePeer::setFaults(const std::string& faults) {
    const simulator::FaultPlanParse parsed = simulator::parseFaultPlan(faults);
    if (!parsed.plan) return false;
    machine_.setFaults(*parsed.plan);
    return true;
}

bool MachinePeer::waitForFaults(std::size_t count) const {
    // Real time: the module's own clock may be virtual.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (machine_.firedFaults().size() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string MachinePeer::frameRecord() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return frameRecord_;
}

std::vector<CardTexts> MachinePeer::cards() const {
    std::vector<CardTexts> out;
    const auto log = machine_.personalisedCards();
    for (std::size_t i = cardsSeen_; i < log.size(); ++i) {
        out.push_back({text(log[i].setupText), text(log[i].personalisationText)});
    }
    return out;
}

std::string MachinePeer::commandLetters() const {
    const std::string letters = machine_.commandLetters();
    return requestsSeen_ < letters.size() ? letters.substr(requestsSeen_) : std::string();
}

std::vector<std::string> MachinePeer::payloadsOf(std::uint8_t command) const {
    std::vector<std::string> out;
    const auto received = machine_.received();
    for (std::size_t i = requestsSeen_; i < received.size(); ++i) {
        if (received[i].command == command) out.push_back(text(received[i].payload));
    }
    return out;
}

std::size_t MachinePeer::frames() const { return machine_.status().framesReceived; }

void MachinePeer::clearLog() {
    cardsSeen_ = machine_.personalisedCards().size();
    requestsSeen_ = machine_.received().size();
}

}  // namespace kestrova::wine_check
