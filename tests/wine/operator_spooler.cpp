// A winspool.drv for kestrova.exe's operator commands under Wine (status,
// console, control --printer): a spooler with the printers named in
// KESTROVA_PRINTERS, answering EnumPrintersW, GetPrinterDriverW,
// OpenPrinterW and GetPrinterDataW as their documented contracts say (a
// short buffer gets ERROR_INSUFFICIENT_BUFFER, or ERROR_MORE_DATA from
// GetPrinterDataW, with the size needed; an unknown printer
// ERROR_INVALID_PRINTER_NAME). GetPrinterDataW hands the value name, the
// kx_api document, to the printer's module host, a running kestrova print
// --control, as the spooler hands it to the printer's language monitor, and
// returns the result document as UTF-16 text.
//
//   KESTROVA_PRINTERS="NAME|PORT|MONITOR|HOST:PORT;..."   (MONITOR empty: none)
//   KESTROVA_PRINTERS_DENY=administer   OpenPrinterW refuses PRINTER_ACCESS_ADMINISTER
//
// The install entries kestrova.exe imports fail with ERROR_NOT_SUPPORTED.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Printer {
    std::wstring name, port, monitor, driver;
    std::string host;
    std::uint16_t tcpPort = 0;
};

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(at, start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

const std::vector<Printer>& printers() {
    static const std::vector<Printer> table = [] {
        std::vector<Printer> out;
        const char* listing = std::getenv("KESTROVA_PRINTERS");
        if (listing == nullptr) return out;
        for (const std::string& entry : split(listing, ';')) {
            const auto fields = split(entry, '|');
            if (fields.size() != 4) continue;
            Printer p;
            p.name = widen(fields[0]);
            p.port = widen(fields[1]);
            p.monitor = widen(fields[2]);
            p.driver = p.name + L" Driver";
            const std::size_t colon = fields[3].rfind(':');
            if (colon != std::string::npos) {
                p.host = fields[3].substr(0, colon);
                p.tcpPort = static_cast<std::uint16_t>(std::atoi(fields[3].c_str() + colon + 1));
            }
            out.push_back(p);
        }
        return out;
    }();
    return table;
}

// Handles are the printer's place in the table, plus one.
const Printer* printerOf(HANDLE handle) {
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index == 0 || index > printers().size()) return nullptr;
    return &printers()[index - 1];
}

// Room for a string copied behind the records, NUL included.
DWORD bytesOf(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

LPWSTR place(const std::wstring& text, BYTE*& at) {
    std::memcpy(at, text.c_str(), bytesOf(text));
    const LPWSTR out = reinterpret_cast<LPWSTR>(at);
    at += bytesOf(text);
    return out;
}

// The module host's answer to one document: "OK" or "FAILED n", then the
// result document. 0 and the answer, or a Windows error.
DWORD askHost(const Printer& printer, const std::string& document, std::string& answer) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return ERROR_NOT_READY;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return ERROR_NOT_READY;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(printer.tcpPort);
    inet_pton(AF_INET, printer.host.c_str(), &address.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return ERROR_NOT_READY;  // the printer's machine is not there
    }
    std::size_t sent = 0;
    while (sent < document.size()) {
        const int n = send(s, document.data() + sent, static_cast<int>(document.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    shutdown(s, SD_SEND);
    std::string reply;
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<std::size_t>(n));
    closesocket(s);
    const std::size_t line = reply.find('\n');
    if (line == std::string::npos) return ERROR_GEN_FAILURE;
    const std::string status = reply.substr(0, line);
    answer = reply.substr(line + 1);
    if (status == "OK") return ERROR_SUCCESS;
    if (status.rfind("FAILED ", 0) == 0) {
        const DWORD error = static_cast<DWORD>(std::strtoul(status.c_str() + 7, nullptr, 10));
        return error == 0 ? ERROR_GEN_FAILURE : error;
    }
    return ERROR_GEN_FAILURE;
}

}  // namespace

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    if (phPrinter == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (std::size_t i = 0; i < printers().size(); ++i) {
        if (pPrinterName == nullptr || printers()[i].name != pPrinterName) continue;
        const char* deny = std::getenv("KESTROVA_PRINTERS_DENY");
        if (deny != nullptr && std::strcmp(deny, "administer") == 0 && pDefault != nullptr &&
            (pDefault->DesiredAccess & PRINTER_ACCESS_ADMINISTER) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        *phPrinter = reinterpret_cast<HANDLE>(i + 1);
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    if (printerOf(hPrinter) != nullptr) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI EnumPrintersW(DWORD, LPWSTR, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned) {
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        SetLastError(RPC_X_NULL_REF_POINTER);
        return FALSE;
    }
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    DWORD needed = static_cast<DWORD>(printers().size() * sizeof(PRINTER_INFO_2W));
    for (const Printer& p : printers()) needed += bytesOf(p.name) + bytesOf(p.port) + bytesOf(p.driver);
    *pcbNeeded = needed;
    *pcReturned = 0;
    if (cbBuf < needed || (needed != 0 && pPrinterEnum == nullptr)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* records = reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum);
    BYTE* strings = pPrinterEnum + printers().size() * sizeof(PRINTER_INFO_2W);
    for (std::size_t i = 0; i < printers().size(); ++i) {
        PRINTER_INFO_2W record{};
        record.pPrinterName = place(printers()[i].name, strings);
        record.pPortName = place(printers()[i].port, strings);
        record.pDriverName = place(printers()[i].driver, strings);
        records[i] = record;
    }
    *pcReturned = static_cast<DWORD>(printers().size());
    return TRUE;
}

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                              LPDWORD pcbNeeded) {
    const Printer* p = printerOf(hPrinter);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 3 || pcbNeeded == nullptr) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const DWORD needed = sizeof(DRIVER_INFO_3W) + bytesOf(p->driver) + (p->monitor.empty() ? 0 : bytesOf(p->monitor));
    *pcbNeeded = needed;
    if (cbBuf < needed || pDriverInfo == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    BYTE* strings = pDriverInfo + sizeof(DRIVER_INFO_3W);
    info.pName = place(p->driver, strings);
    info.pMonitorName = p->monitor.empty() ? nullptr : place(p->monitor, strings);
    std::memcpy(pDriverInfo, &info, sizeof info);
    return TRUE;
}

DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
    const Printer* p = printerOf(hPrinter);
    if (p == nullptr) return ERROR_INVALID_HANDLE;
    if (pValueName == nullptr || pcbNeeded == nullptr) return RPC_X_NULL_REF_POINTER;
    // Not a stored value: the printer's language monitor answers, if it has one.
    if (p->monitor.empty()) return ERROR_FILE_NOT_FOUND;
    std::string answer;
    const DWORD error = askHost(*p, narrow(pValueName), answer);
    if (error != ERROR_SUCCESS) return error;
    const std::wstring text = widen(answer);
    const DWORD needed = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    *pcbNeeded = needed;
    if (pType != nullptr) *pType = REG_BINARY;
    if (nSize < needed || (needed != 0 && pData == nullptr)) return ERROR_MORE_DATA;
    std::memcpy(pData, text.data(), needed);
    return ERROR_SUCCESS;
}

// kestrova.exe imports these for install and uninstall; not this spooler's business.
BOOL WINAPI AddMonitorW(LPWSTR, DWORD, LPBYTE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI AddPrinterDriverExW(LPWSTR, DWORD, LPBYTE, DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI DeleteMonitorW(LPWSTR, LPWSTR, LPWSTR) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI EnumMonitorsW(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI EnumPrinterDriversW(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

}  // extern "C"
