// Where the operator's machines are and how a control document reaches
// each: the ports of running kestrova print --control runs, the printers of
// this spooler whose driver names KestrovaLM (Windows), or the demo's
// machines in this process. kestrova status and the console look through one.
#pragma once

#include "simulator/socket.h"
#include "tool/control_channel.h"
#include "tool/machine_report.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrova::tool {

struct MachineEntry {
    std::string name;       // shown, and the key the console's actions name
    std::string port;
    std::string reachWith;  // kestrova control's options that reach it
};

class MachineDirectory {
public:
    virtual ~MachineDirectory() = default;
    // The machines there are now; false with the reason when even the list
    // cannot be had.
    virtual bool list(std::vector<MachineEntry>& out, std::string& error) = 0;
    // One kx_api document (UTF-8) to one machine; false with the reason when
    // it could not be delivered or answered.
    virtual bool send(const MachineEntry& entry, const std::string& document, ControlReply& reply,
                      std::string& error) = 0;
};

// A kestrova print run's control port, under the name it is shown by (the
// address itself when none is given).
struct ControlPort {
    std::string name;
    simulator::net::Endpoint endpoint;
};

// The control ports of kestrova print runs (--control), in the order given.
std::unique_ptr<MachineDirectory> controlPortDirectory(std::vector<ControlPort> ports);

// "[NAME=]HOST:PORT[,[NAME=]HOST:PORT...]"; false with the reason.
bool parseControlPorts(const std::string& text, std::vector<ControlPort>& out, std::string& error);

// get_info from every machine of the directory, in its order.
bool lookAtMachines(MachineDirectory& directory, std::vector<MachineReport>& out, std::string& error);

}  // namespace kestrova::tool
