#include "control/status_report.h"

#include "control/result_document.h"
#include "control/xml_name.h"
#include "link/machine_command.h"
#include "port/monitor_port.h"


namespace kestrova {

void putModuleInfo(ControlTree& tree, const ModuleInfoTable& table) {
    for (const auto& [key, text] : table) {
        const TreeString name = treeTextFromBytes(key);
        if (!isElementPath(name)) continue;
        putResult(tree, L"machine.module_info." + name, treeTextFromBytes(text));
    }
}

ExchangeOutcome writeStatusReport(MonitorPort& port, ControlTree& tree) {
    // One moment of the queue for the job values and the count.
    const std::size_t records = port.intake().cardsLeft();
    if (records != 0) {
        putResultNumber(tree, L"job.id", port.jobInfo.jobId);
        putResult(tree, L"job.doc_name", treeTextFromWide(port.jobInfo.docInfo.docName));
    }
    putResultNumber(tree, L"job.to_produce", static_cast<std::int64_t>(static_cast<std::uint32_t>(records)));

    MachineSession& machine = port.machine();
    const char* stateName = machineStateName(machine.state());
    putResult(tree, L"machine.state", TreeString(stateName, stateName + std::char_traits<char>::length(stateName)));
    putResultNumber(tree, L"machine.hw_error_code", machine.hwErrorCode());

    const ExchangeOutcome result = machine.exchange(command::ModuleInfo, Bytes());
    if (succeeded(result)) putModuleInfo(tree, readModuleInfo(machine.lastReply().replyPayload));
    return result;
}

}  // namespace kestrova
