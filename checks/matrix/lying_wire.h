// A wire between the module and the machine that makes, on purpose, the
// faults a broken module would make, so that the fault matrix shows it
// fails them: a Personalize text with one byte changed (the frame's check
// byte made right again), a card made a second time, every Eject swallowed
// and reported done, a card skipped (its commands all answered by the wire),
// and every reply handed over one command late.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"
#include "link/request_frame.h"
#include "simulator/simulator_peer.h"
#include "standin/software_port_monitor.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace kestrova::matrix {

enum class Lie { ChangedByte, CardTwice, EjectSwallowed, CardSkipped, ReplyOneLate };
const char* lieName(Lie lie);
const std::vector<Lie>& everyLie();

class LyingWire : public standin::PortPeer {
public:
    LyingWire(simulator::SimulatorPeer& machine, Lie lie) : machine_(machine), lie_(lie) {}

    long onWrite(const std::uint8_t* data, std::size_t size) override;
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override;

private:
    void fromHost(Bytes frame);
    void toMachine(const Bytes& frame);
    // The wire's own answer to a frame it keeps from the machine.
    void answerAsMachine(const RequestFrame& request);
    // The wire makes the last card again on its own: PreLoad to Eject.
    void makeLastCardAgain();
    std::optional<LinkFrame> ownExchange(std::uint8_t command, const Bytes& payload);

    simulator::SimulatorPeer& machine_;
    Lie lie_;
    Bytes inbound_;               // the host's bytes not yet a whole frame
    std::deque<std::uint8_t> toHost_;  // what the wire itself hands to the host
    // ReplyOneLate: the last whole reply, kept until the next command.
    Bytes held_;
    Bytes partial_;
    std::uint8_t pending_ = 0;    // a completion the wire owes the host
    bool faking_ = false;         // CardSkipped: the wire answers for the machine
    std::size_t ejects_ = 0;      // host Ejects seen
    bool cardDone_ = false;       // CardTwice: the card made again already
    bool replayDue_ = false;
    Bytes lastSetup_;
    Bytes lastPersonalisation_;
    std::uint8_t ownSequence_ = 100;
};

}  // namespace kestrova::matrix
