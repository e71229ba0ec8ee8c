// A card machine at the far end of a software port monitor: a script over
// the basic machine. Operations are acknowledged (ACK) and completed on the
// next poll, or after as many busy polls as are set; job setup, run control
// and module information get a data reply at once; any other command is
// refused (NAK, reject code 0). Nothing is refused for the card's sake: tests
// script single answers per command on top of that and read back every
// command received.
//
// Replies repeat the request's address and sequence. Reading when nothing is
// waiting reports no byte; on the virtual clock that read first lets the
// port's read time-out pass.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"
#include "standin/basic_machine.h"
#include "standin/command_log.h"
#include "standin/software_port_monitor.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::standin {

// One answer of the machine to one command.
struct MachineResponse {
    enum class Kind {
        Eot,      // busy
        Enq,      // ready
        Ack,      // started; the completing data reply (with `code`) answers a later poll
        Nak,      // refused with reject code `code`
        Data,     // finished now with completion code `code` and `payload`
        Silence,  // no byte at all
        Raw,      // `payload` goes out as it is, framed or not
    };
    Kind kind = Kind::Enq;
    std::uint8_t letter = 0;  // the command answered; 0: the one received
    std::uint8_t code = '0';  // reject code, or completion code
    Bytes payload;

    static MachineResponse eot();
    static MachineResponse enq();
    static MachineResponse ack(std::uint8_t completionCode = '0');
    static MachineResponse nak(std::uint8_t rejectCode);
    static MachineResponse data(std::uint8_t completionCode = '0', Bytes payload = {});
    static MachineResponse silence();
    static MachineResponse raw(Bytes bytes);
};

struct ReceivedCommand {
    MachineAddress address{};
    std::uint8_t sequence = 0;
    std::uint8_t command = 0;
    Bytes payload;
    bool wellFormed = true;  // false: the bytes were no canonical frame (payload then holds them all)
};

class ScriptedMachine : public PortPeer {
public:
    // May answer a command before the script does; nullopt leaves it to the script.
    using Hook = std::function<std::optional<MachineResponse>(const ReceivedCommand&)>;

    ScriptedMachine();

    long onWrite(const std::uint8_t* data, std::size_t size) override;
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override;

    // The next `times` frames with this command get `response` instead of
    // the machine's own answer (queued behind answers scripted earlier).
    void script(std::uint8_t command, const MachineResponse& response, std::size_t times = 1);
    // Polls answered with EOT before each pending completion is reported.
    void setBusyPolls(std::size_t polls);
    // The text the module information reply carries.
    void setModuleInfo(Bytes text);
    void setHook(Hook hook);
    // Keeping the log can be turned off for long runs; counts are always kept.
    void setRecording(bool record);

    std::vector<ReceivedCommand> received() const;
    // The command letters received, in order ("p!pplp...").
    std::string commandLetters() const;
    std::size_t countOf(std::uint8_t command) const;
    std::size_t frames() const;
    // The payload of every frame received with this command, in order.
    std::vector<Bytes> payloadsOf(std::uint8_t command) const;
    // Whether a started operation has yet to report its completion.
    bool completionPending() const;
    // Forgets the log, the counts, the script and any pending completion.
    void clear();

private:
    struct Operation {
        std::uint8_t letter;
        std::uint8_t completionCode;
        std::size_t busyPollsLeft;
    };

    MachineResponse machineAnswer(const ReceivedCommand& request);
    void queueReply(const ReceivedCommand& request, const MachineResponse& response);

    mutable std::mutex lock_;
    Bytes inbound_;
    std::deque<std::uint8_t> outbound_;
    std::map<std::uint8_t, std::deque<MachineResponse>> oneOff_;
    BasicMachine<Operation> machine_;
    std::size_t busyPolls_ = 0;
    Bytes moduleInfo_;
    std::shared_ptr<Hook> hook_;  // shared so a hook's own state lasts from call to call
    CommandLog<ReceivedCommand> log_;
};

}  // namespace kestrova::standin
