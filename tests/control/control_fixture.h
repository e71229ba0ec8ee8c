// A monitor over a software port monitor whose far end is the scripted
// machine, one port open, the platform on the virtual clock; requests go
// through the GetPrinterDataFromPort entry of the function table.
#pragma once

#include "link/machine_command.h"
#include "monitor/language_monitor.h"
#include "port/monitor_port.h"
#include "standin/platform_standin.h"
#include "standin/scripted_machine.h"
#include "standin/software_port_monitor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova::testing {

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline WideString wideOf(const std::string& ascii) { return WideString(ascii.begin(), ascii.end()); }

// For readable failures: ASCII as it is, every other unit as \uXXXX.
inline std::string shown(const WideString& text) {
    std::string out;
    for (const WCHAR unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            out.push_back(static_cast<char>(unit));
        } else if (unit == '\n') {
            out += "\n";
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(unit));
            out += code;
        }
    }
    return out;
}

inline WideString commandDocument(const std::string& command) {
    return wideOf("<kx_api><command value=\"" + command + "\"/></kx_api>");
}

struct ControlAnswer {
    BOOL result = FALSE;
    DWORD returned = 0;
    DWORD lastError = 0;
    WideString document;  // what the buffer holds up to `returned` (when TRUE)
};

class ControlFixture : public ::testing::Test {
public:
    void SetUp() override {
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
        table = InitializePrintMonitor2(nullptr, &monitor);
        ASSERT_NE(table, nullptr);
        spm.setPeer(&machine);
        WideString portName(u"LPT1:");
        ASSERT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName.data(), printerName.data(), &handle,
                                       spm.table()),
                  TRUE);
        port = static_cast<MonitorPort*>(handle);
        portHandle = port->portHandle;
        spm.clearCalls();
    }

    void TearDown() override {
        if (monitor != nullptr) table->pfnShutdown(monitor);
        spm.setPeer(nullptr);
    }

    ControlAnswer request(WideString text, DWORD bufferBytes = 64 * 1024) {
        std::vector<WCHAR> buffer(bufferBytes / sizeof(WCHAR) + 1, 0);
        ControlAnswer answer;
        answer.result = table->pfnGetPrinterDataFromPort(handle, 0, text.data(), nullptr, 0, buffer.data(),
                                                         bufferBytes, &answer.returned);
        answer.lastError = GetLastError();
        if (answer.result == TRUE) answer.document.assign(buffer.data(), answer.returned / sizeof(WCHAR));
        return answer;
    }

    ControlAnswer sendCommand(const std::string& name) { return request(commandDocument(name)); }

    BOOL startDoc(DWORD jobId = 42) {
        DOC_INFO_1W info{docName.data(), nullptr, datatype.data()};
        return table->pfnStartDocPort(handle, printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info));
    }

    void write(std::string job) {
        DWORD written = 0;
        ASSERT_EQ(table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()),
                                      &written),
                  TRUE);
        ASSERT_EQ(written, job.size());
    }

    BOOL endDoc() { return table->pfnEndDocPort(handle); }

    template <typename Change>
    void withPortLocked(Change change) {
        const PortLock guard(*port);
        change(*port);
    }

    // A card layout of one item and `cards` cards.
    static std::string job(std::size_t cards) {
        std::string text = "<SX856 SY540 X120 Y45 F2 CI3>";
        for (std::size_t i = 0; i < cards; ++i) text += "<CARD " + std::to_string(i) + ">";
        return text;
    }

    standin::ScriptedMachine machine;
    standin::SoftwarePortMonitor spm;
    HANDLE monitor = nullptr;
    LPMONITOR2 table = nullptr;
    HANDLE handle = nullptr;
    HANDLE portHandle = nullptr;  // the port monitor's own handle beneath
    MonitorPort* port = nullptr;
    WideString printerName = u"Card Printer";
    WideString docName = u"cards.txt";
    WideString datatype = u"RAW";
};

}  // namespace kestrova::testing
