// The Windows base types and records the monitor exchanges with the spooler,
// the port monitor beneath it and the kernel. On Windows they come from the
// SDK; elsewhere we define stand-ins with the same member order. WCHAR is a
// 16-bit unit everywhere because the interface counts UTF-16 units.
#pragma once

#ifdef _WIN32

#ifndef UNICODE
#define UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winspool.h>

#else

#include <cstdint>

using BOOL = int;
using DWORD = std::uint32_t;
using PDWORD = DWORD*;
using LPDWORD = DWORD*;
using BYTE = unsigned char;
using PBYTE = BYTE*;
using LPBYTE = BYTE*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using LPHANDLE = HANDLE*;
using HWND = void*;
using HKEY = void*;
using LPVOID = void*;
using ACCESS_MASK = DWORD;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PCWSTR = const WCHAR*;
using VOID = void;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAXDWORD 0xffffffffU

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INTERNAL_ERROR = 1359;

constexpr DWORD PRINTER_ALL_ACCESS = 0x000F000C;
constexpr DWORD JOB_CONTROL_DELETE = 5;
constexpr DWORD JOB_CONTROL_LAST_PAGE_EJECTED = 7;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

struct DOC_INFO_1W {
    LPWSTR pDocName;
    LPWSTR pOutputFile;
    LPWSTR pDatatype;
};
using DOC_INFO_1 = DOC_INFO_1W;

struct DOC_INFO_2W {
    LPWSTR pDocName;
    LPWSTR pOutputFile;
    LPWSTR pDatatype;
    DWORD dwMode;
    DWORD JobId;
};
using DOC_INFO_2 = DOC_INFO_2W;

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    void* pDevMode;
    ACCESS_MASK DesiredAccess;
};

#endif  // _WIN32
