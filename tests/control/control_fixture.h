// The suite's monitor, port and machine (support/port_fixture.h), with
// control requests through the GetPrinterDataFromPort entry of the function
// table.
#pragma once

#include "support/port_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova::testing {

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

class ControlFixture : public PortFixture {
public:
    void SetUp() override {
        PortFixture::SetUp();
        if (port == nullptr) return;
        portHandle = port->portHandle;
        spm.clearCalls();
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

    // The whole job in one WritePort.
    void write(const std::string& job) { PortFixture::write(job, {job.size()}); }

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

    HANDLE portHandle = nullptr;  // the port monitor's own handle beneath
};

}  // namespace kestrova::testing
