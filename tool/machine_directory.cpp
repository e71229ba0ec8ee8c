#include "tool/machine_directory.h"

#include "tool/control_document.h"

#include <utility>

namespace kestrova::tool {

namespace {

class ControlPortDirectory final : public MachineDirectory {
public:
    explicit ControlPortDirectory(std::vector<ControlPort> ports) : ports_(std::move(ports)) {}

    bool list(std::vector<MachineEntry>& out, std::string&) override {
        out.clear();
        for (const ControlPort& port : ports_) out.push_back({port.name, "", "--to " + port.endpoint.text()});
        return true;
    }

    bool send(const MachineEntry& entry, const std::string& document, ControlReply& reply,
              std::string& error) override {
        for (const ControlPort& port : ports_) {
            if (port.name != entry.name) continue;
            if (sendControlDocument(port.endpoint, document, reply, error)) return true;
            error = "no kestrova print answers on " + port.endpoint.text() + " (" + std::move(error) + ")";
            return false;
        }
        error = "no machine " + entry.name;
        return false;
    }

private:
    std::vector<ControlPort> ports_;
};

}  // namespace

std::unique_ptr<MachineDirectory> controlPortDirectory(std::vector<ControlPort> ports) {
    return std::make_unique<ControlPortDirectory>(std::move(ports));
}

bool parseControlPorts(const std::string& text, std::vector<ControlPort>& out, std::string& error) {
    out.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(at, end - at);
        ControlPort port;
        const std::size_t equals = item.find('=');
        if (equals != std::string::npos) {
            port.name = item.substr(0, equals);
            item = item.substr(equals + 1);
            if (port.name.empty()) {
                error = "'=" + item + "' names no machine before its '='";
                return false;
            }
        }
        if (!simulator::net::parseEndpoint(item, port.endpoint, error)) return false;
        if (port.name.empty()) port.name = port.endpoint.text();
        for (const ControlPort& earlier : out) {
            if (earlier.name == port.name) {
                error = "'" + port.name + "' is given twice";
                return false;
            }
        }
        out.push_back(port);
        at = end + 1;
    }
    return true;
}

bool lookAtMachines(MachineDirectory& directory, std::vector<MachineReport>& out, std::string& error) {
    std::vector<MachineEntry> entries;
    if (!directory.list(entries, error)) return false;
    out.clear();
    for (const MachineEntry& entry : entries) {
        MachineReport report;
        report.name = entry.name;
        report.port = entry.port;
        report.reachWith = entry.reachWith;
        ControlReply reply;
        std::string why;
        if (directory.send(entry, controlRequestText("get_info"), reply, why)) {
            report.answered = true;
            report.result = readResultDocument(reply.document);
            if (!reply.ok && !report.result.hasResult) {
                report.answered = false;
                report.unanswered = "the request failed, error " + std::to_string(reply.lastError);
            }
        } else {
            report.unanswered = why;
        }
        out.push_back(std::move(report));
    }
    return true;
}

}  // namespace kestrova::tool
