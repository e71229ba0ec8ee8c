#include "tool/machine_directory.h"

#include "tool/control_document.h"

namespace kestrova::tool {

namespace {

class ControlPortDirectory final : public MachineDirectory {
public:
    explicit ControlPortDirectory(std::vector<simulator::net::Endpoint> endpoints) : endpoints_(std::move(endpoints)) {}

    bool list(std::vector<MachineEntry>& out, std::string&) override {
        out.clear();
        for (const auto& endpoint : endpoints_) {
            const std::string address = endpoint.host + ":" + std::to_string(endpoint.port);
            out.push_back({address, "", "--to " + address});
        }
        return true;
    }

    bool send(const MachineEntry& entry, const std::string& document, ControlReply& reply,
              std::string& error) override {
        for (const auto& endpoint : endpoints_) {
            if (endpoint.host + ":" + std::to_string(endpoint.port) != entry.name) continue;
            if (sendControlDocument(endpoint, document, reply, error)) return true;
            error = "no kestrova print answers on " + entry.name + " (" + error + ")";
            return false;
        }
        error = "no machine " + entry.name;
        return false;
    }

private:
    std::vector<simulator::net::Endpoint> endpoints_;
};

}  // namespace

std::unique_ptr<MachineDirectory> controlPortDirectory(std::vector<simulator::net::Endpoint> endpoints) {
    return std::make_unique<ControlPortDirectory>(std::move(endpoints));
}

bool parseEndpointList(const std::string& text, std::vector<simulator::net::Endpoint>& out, std::string& error) {
    out.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        simulator::net::Endpoint endpoint;
        if (!simulator::net::parseEndpoint(text.substr(at, end - at), endpoint, error)) return false;
        out.push_back(endpoint);
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
                report.unanswered = "GetPrinterData returned FALSE, last error " + std::to_string(reply.lastError);
            }
        } else {
            report.unanswered = why;
        }
        out.push_back(std::move(report));
    }
    return true;
}

bool sendCommandTo(MachineDirectory& directory, const std::string& name, const std::string& command,
                   ControlReply& reply, std::string& error) {
    if (!isControlCommand(command)) {
        error = "unknown command '" + command + "'";
        return false;
    }
    std::vector<MachineEntry> entries;
    if (!directory.list(entries, error)) return false;
    for (const MachineEntry& entry : entries) {
        if (entry.name == name) return directory.send(entry, controlRequestText(command), reply, error);
    }
    error = "no machine named " + name;
    return false;
}

}  // namespace kestrova::tool
