// The spooler client and kernel calls the monitor makes. On Windows they are
// the real imports from winspool and kernel32; elsewhere the module imports
// them as undefined C symbols with the same signatures, supplied by our
// stand-in library or by any host that loads its own first.
#pragma once

#include "platform/windows_types.h"

#ifndef _WIN32
extern "C" {
BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, PRINTER_DEFAULTSW* pDefault);
BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);
BOOL WINAPI ClosePrinter(HANDLE hPrinter);
VOID WINAPI Sleep(DWORD dwMilliseconds);
DWORD WINAPI GetTickCount(VOID);
VOID WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
DWORD WINAPI GetLastError(VOID);
VOID WINAPI SetLastError(DWORD dwErrCode);
}
#endif
