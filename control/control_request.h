// The control interface: kx_api request documents through GetPrinterDataFromPort.
#pragma once

#include "platform/spooler_monitor.h"

namespace kestrova {

class MonitorPort;

BOOL getPrinterDataFromPort(MonitorPort& port, DWORD controlId, LPWSTR pValueName, LPWSTR lpInBuffer,
                            DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned);

}  // namespace kestrova
