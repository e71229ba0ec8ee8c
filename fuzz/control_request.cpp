// Request text (the input as UTF-16 units, the first byte picking the output
// buffer's size) through the GetPrinterDataFromPort entry of a monitor whose
// port reaches the simulated machine. Bytes after the request's terminating
// NUL unit, if any, are the module information a scripted machine answers
// with instead. Each answer is either the pass-through of the port monitor
// beneath, unchanged, or a well-formed kx_api document of the monitor's own —
// never both, never a byte past the buffer, and never an answer withheld
// because it was not well-formed (the request screen and the text rule must
// have kept it so before the check at the end). Every answer is read by
// Expat as well, whose older name tables refuse names beyond what both
// editions of XML 1.0 allow.
#include "control/well_formed_xml.h"
#include "monitor/language_monitor.h"
#include "platform/platform_calls.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "standin/platform_standin.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "standin/scripted_machine.h"
#include "standin/software_port_monitor.h"
#include "tool/text_encoding.h"

#include <expat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using kestrova::WideString;

const WideString kPassThrough = u"pass-through reply";
constexpr WCHAR kGuard = 0xBEEF;
constexpr std::size_t kGuardUnits = 8;

struct Rig {
    Rig() {
        kestrova::standin::reset();
        kestrova::standin::setClockMode(kestrova::standin::ClockMode::Virtual);
        table = InitializePrintMonitor2(nullptr, &monitor);
        if (table == nullptr) std::abort();
        spm.setPeer(&peer);
        spm.setPassThroughReply(kPassThrough);
        spm.setRecordCalls(false);
        machine.setRecording(false);
        scripted.setRecording(false);
        WideString portName(u"LPT1:");
        WideString printerName(u"Card Printer");
        if (table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName.data(), printerName.data(), &handle,
                                 spm.table()) != TRUE) {
            std::abort();
        }
    }

    kestrova::simulator::MachineSimulator machine{kestrova::simulator::MachineDurations::instant()};
    kestrova::simulator::SimulatorPeer peer{machine};
    kestrova::standin::ScriptedMachine scripted;
    kestrova::standin::SoftwarePortMonitor spm;
    HANDLE monitor = nullptr;
    LPMONITOR2 table = nullptr;
    HANDLE handle = nullptr;
};

const WideString kAnswerStart = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<kx_api";

bool expatReads(const WideString& document) {
    const std::string bytes = kestrova::tool::utf8FromUtf16(document);
    XML_Parser parser = XML_ParserCreate("UTF-8");
    const bool read = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return read;
}

bool wellFormed(const WideString& document) {
    return document.compare(0, kAnswerStart.size(), kAnswerStart) == 0 && kestrova::isWellFormedXml(document) &&
           expatReads(document);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    if (size == 0) return 0;
    // The stand-in keeps every platform call; forget them between inputs.
    kestrova::standin::clearCalls();
    // Mostly room enough; now and then a buffer too small for any answer.
    const DWORD bufferUnits = data[0] < 224 ? 4096 : DWORD(data[0] - 224);
    WideString text;
    std::size_t at = 1;
    for (; at + 1 < size; at += 2) {
        const WCHAR unit = static_cast<WCHAR>(data[at] | (data[at + 1] << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    if (at + 1 < size) {
        rig.scripted.setModuleInfo(kestrova::Bytes(data + at + 2, data + size));
        rig.spm.setPeer(&rig.scripted);
    } else {
        rig.spm.setPeer(&rig.peer);
    }

    std::vector<WCHAR> buffer(bufferUnits + kGuardUnits, kGuard);
    DWORD returned = 0xFFFFFFFF;
    SetLastError(0);
    const std::size_t passesBefore = rig.spm.countOf(kestrova::standin::PortEntry::GetPrinterDataFromPort);
    const BOOL result = rig.table->pfnGetPrinterDataFromPort(rig.handle, 0, text.data(), nullptr, 0, buffer.data(),
                                                             bufferUnits * sizeof(WCHAR), &returned);
    const std::size_t passes =
        rig.spm.countOf(kestrova::standin::PortEntry::GetPrinterDataFromPort) - passesBefore;

    for (std::size_t i = bufferUnits; i < buffer.size(); ++i) {
        if (buffer[i] != kGuard) std::abort();
    }
    if (passes > 1) std::abort();
    if (result == FALSE && passes == 0 && GetLastError() == ERROR_INTERNAL_ERROR) {
        std::fprintf(stderr, "an answer was withheld as not well-formed\n");
        std::abort();
    }
    if (result == TRUE && passes == 1) {
        // The port monitor's answer, untouched (it copies only what fits).
        const DWORD replyBytes = static_cast<DWORD>(kPassThrough.size() * sizeof(WCHAR));
        if (returned != replyBytes) std::abort();
        if (replyBytes <= bufferUnits * sizeof(WCHAR) &&
            WideString(buffer.data(), kPassThrough.size()) != kPassThrough) {
            std::abort();
        }
    } else if (result == TRUE) {
        if (returned > bufferUnits * sizeof(WCHAR) || returned % sizeof(WCHAR) != 0) std::abort();
        {
            const WideString document(buffer.data(), returned / sizeof(WCHAR));
            if (!wellFormed(document)) {
                std::fprintf(stderr, "not a well-formed document (%u bytes):\n", static_cast<unsigned>(returned));
                for (const WCHAR unit : document) std::fputc(unit < 0x80 ? static_cast<int>(unit) : '?', stderr);
                std::fputc('\n', stderr);
                std::abort();
            }
        }
    }
    return 0;
}
