// The control interface: kx_api request documents through
// GetPrinterDataFromPort. Commands: "delete_job", "restore", "pause",
// "continue", "step", "get_info"; any other document goes to the port
// monitor beneath unchanged.
#pragma once

#include "platform/spooler_monitor.h"

namespace kestrova {

class MonitorPort;

BOOL getPrinterDataFromPort(MonitorPort& port, DWORD controlId, LPWSTR pValueName, LPWSTR lpInBuffer,
                            DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned);

}  // namespace kestrova
