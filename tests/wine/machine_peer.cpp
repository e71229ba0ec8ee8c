#include "tests/wine/machine_peer.h"

namespace kestrova::wine_check {

namespace {

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

MachinePeer::MachinePeer() : machine_(simulator::MachineDurations::instant()), peer_(machine_) {}

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
