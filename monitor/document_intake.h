// StartDocPort and WritePort on a port: a document opens the printer for job
// control, starts on the port monitor beneath and resets the port; its bytes
// are only buffered until EndDocPort produces them (port/production_loop.h).
#pragma once

#include "platform/windows_types.h"

namespace kestrova {

class MonitorPort;

BOOL startDocPort(MonitorPort& port, LPWSTR pPrinterName, DWORD jobId, DWORD level, LPBYTE pDocInfo);
BOOL writePort(MonitorPort& port, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);

}  // namespace kestrova
