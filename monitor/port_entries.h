// The port entries of the function table. Each checks its handle and keeps
// every C++ exception inside the module: the spooler gets a failure result.
#pragma once

#include "platform/spooler_monitor.h"

namespace kestrova {

BOOL WINAPI openPortExEntry(HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pPortName, LPWSTR pPrinterName,
                            PHANDLE pHandle, MONITOR2* pMonitor2) noexcept;
BOOL WINAPI closePortEntry(HANDLE hPort) noexcept;
BOOL WINAPI startDocPortEntry(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                              LPBYTE pDocInfo) noexcept;
BOOL WINAPI writePortEntry(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) noexcept;
BOOL WINAPI readPortEntry(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) noexcept;
BOOL WINAPI endDocPortEntry(HANDLE hPort) noexcept;
BOOL WINAPI getPrinterDataFromPortEntry(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                        DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                        LPDWORD lpcbReturned) noexcept;

}  // namespace kestrova
