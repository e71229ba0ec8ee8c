// The print-monitor records of the spooler interface: MONITORINIT and the
// MONITOR2 function table. We define them ourselves on every platform:
// MinGW-w64's winsplp.h lacks the last member (pfnPowerEvent), which would
// make the table 88 bytes on 32-bit Windows instead of the spooler's 92.
#pragma once

#include "platform/windows_types.h"

#include <cstddef>

struct MONITORREG;  // registry call table; the monitor never uses it
#ifndef _WIN32
// On Windows winspool.h and winuser.h declare these.
struct BIDI_REQUEST_CONTAINER;
struct BIDI_RESPONSE_CONTAINER;
struct POWERBROADCAST_SETTING;
#endif

struct MONITORINIT {
    DWORD cbSize;
    HANDLE hSpooler;
    HKEY hckRegistryRoot;
    MONITORREG* pMonitorReg;
    BOOL bLocal;
    LPCWSTR pszServerName;
};
using PMONITORINIT = MONITORINIT*;

struct MONITOR2 {
    DWORD cbSize;
    BOOL(WINAPI* pfnEnumPorts)(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                               LPDWORD pcbNeeded, LPDWORD pcReturned);
    BOOL(WINAPI* pfnOpenPort)(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
    BOOL(WINAPI* pfnOpenPortEx)(HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pPortName, LPWSTR pPrinterName,
                                PHANDLE pHandle, MONITOR2* pMonitor2);
    BOOL(WINAPI* pfnStartDocPort)(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
    BOOL(WINAPI* pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    BOOL(WINAPI* pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
    BOOL(WINAPI* pfnEndDocPort)(HANDLE hPort);
    BOOL(WINAPI* pfnClosePort)(HANDLE hPort);
    BOOL(WINAPI* pfnAddPort)(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pMonitorName);
    BOOL(WINAPI* pfnAddPortEx)(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer, LPWSTR lpMonitorName);
    BOOL(WINAPI* pfnConfigurePort)(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
    BOOL(WINAPI* pfnDeletePort)(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
    BOOL(WINAPI* pfnGetPrinterDataFromPort)(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                            DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                            LPDWORD lpcbReturned);
    BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
    BOOL(WINAPI* pfnXcvOpenPort)(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess, PHANDLE phXcv);
    DWORD(WINAPI* pfnXcvDataPort)(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                                  PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded);
    BOOL(WINAPI* pfnXcvClosePort)(HANDLE hXcv);
    VOID(WINAPI* pfnShutdown)(HANDLE hMonitor);
    DWORD(WINAPI* pfnSendRecvBidiDataFromPort)(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                                               BIDI_REQUEST_CONTAINER* pReqData,
                                               BIDI_RESPONSE_CONTAINER** ppResData);
    DWORD(WINAPI* pfnNotifyUsedPorts)(HANDLE hMonitor, DWORD cPorts, PCWSTR* ppszPorts);
    DWORD(WINAPI* pfnNotifyUnusedPorts)(HANDLE hMonitor, DWORD cPorts, PCWSTR* ppszPorts);
    DWORD(WINAPI* pfnPowerEvent)(HANDLE hMonitor, DWORD event, POWERBROADCAST_SETTING* pSettings);
};
using LPMONITOR2 = MONITOR2*;
using PMONITOR2 = MONITOR2*;

// A 32-bit spooler expects exactly this size.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(MONITOR2) == 92, "MONITOR2 must be 92 bytes on 32-bit Windows");
#endif
static_assert(offsetof(MONITOR2, pfnPowerEvent) == sizeof(MONITOR2) - sizeof(void*),
              "pfnPowerEvent must be the last member");

// The name under which the spooler looks the entry up: the module's only export.
#if defined(_WIN32)
#define KESTROVA_EXPORT
#else
#define KESTROVA_EXPORT __attribute__((visibility("default")))
#endif
extern "C" KESTROVA_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);
