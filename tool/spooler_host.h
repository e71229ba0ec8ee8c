// The tool playing the spooler for the loaded module: it creates the
// monitor, opens one port over a given port monitor, runs a document through
// StartDocPort, WritePort and EndDocPort, and sends control requests through
// GetPrinterDataFromPort (from any thread, also while EndDocPort runs).
#pragma once

#include "link/bytes.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "tool/module_loader.h"

#include <cstddef>
#include <string>

namespace kestrova::tool {

struct ControlAnswer {
    BOOL result = FALSE;
    DWORD lastError = 0;  // when result is FALSE
    WideString text;      // the result document
};

class SpoolerHost {
public:
    explicit SpoolerHost(LoadedModule& module) : module_(module) {}
    ~SpoolerHost();
    SpoolerHost(const SpoolerHost&) = delete;
    SpoolerHost& operator=(const SpoolerHost&) = delete;

    // InitializePrintMonitor2, then OpenPortEx over the port monitor beneath.
    bool open(HANDLE portMonitorHandle, MONITOR2* portMonitor, std::string& error);
    BOOL startDoc(DWORD jobId, const WideString& docName);
    // WritePort in pieces of `chunk` bytes, as the spooler hands data on.
    bool write(const Bytes& job, std::size_t chunk, std::string& error);
    BOOL endDoc();
    ControlAnswer control(const WideString& request) const;
    // ClosePort and Shutdown.
    void close();

    static const WCHAR* portName() {
        static const WideString name = wideFromAscii("KESTROVA:");
        return name.c_str();
    }
    static const WCHAR* printerName() {
        static const WideString name = wideFromAscii("Kestrova Card Printer");
        return name.c_str();
    }

private:
    LoadedModule& module_;
    LPMONITOR2 table_ = nullptr;
    HANDLE monitor_ = nullptr;
    HANDLE port_ = nullptr;
};

}  // namespace kestrova::tool
