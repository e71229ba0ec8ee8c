#include "control/status_report.h"

#include "control/result_document.h"
#include "control/xml_name.h"
#include "link/machine_command.h"
#include "port/monitor_port.h"

#include <mutex>

namespace kestrova {

void putModuleInfo(ControlTree& tree, const ModuleInfoTable& table) {
    for (const auto& [key, text] : table) {
        const TreeString name = treeTextFromBytes(key);
        if (!isElementPath(name)) continue;
        putResult(tree, L"machine.module_info." + name, treeTextFromBytes(text));
    }
}

std::int32_t writeStatusReport(MonitorPort& port, ControlTree& tree) {
    {
        // One moment of the queue for the job values and the count.
        std::lock_guard<std::mutex> guard(port.queueLock);
        const std::size_t records = port.jobQueue.size();
        if (records != 0) {
            putResultNumber(tree, L"job.id", port.jobInfo.jobId);
            putResult(tree, L"job.doc_name", treeTextFromWide(port.jobInfo.docInfo.docName));
        }
        putResultNumber(tree, L"job.to_produce", static_cast<std::int64_t>(static_cast<std::uint32_t>(records)));
    }

    const char* stateName = machineStateName(port.machineState);
    putResult(tree, L"machine.state", TreeString(stateName, stateName + std::char_traits<char>::length(stateName)));
    putResultNumber(tree, L"machine.hw_error_code", port.hwErrorCode);

    std::uint8_t replyCode = 0;
    Bytes replyPayload;
    const std::int32_t result = port.machineExchange(command::ModuleInfo, Bytes(), replyCode, replyPayload);
    if (result == 0) putModuleInfo(tree, readModuleInfo(replyPayload));
    return result;
}

}  // namespace kestrova
