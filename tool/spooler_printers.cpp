#include "tool/spooler_printers.h"

#ifndef _WIN32

namespace kestrova::tool {

std::unique_ptr<MachineDirectory> spoolerPrinterDirectory() { return nullptr; }

PrinterAnswer askPrinter(const std::string&, const std::string&, bool, ControlReply&, std::string& error) {
    error = "--printer needs the Windows spooler (kestrova.exe); here use --to with kestrova print --control";
    return PrinterAnswer::Failed;
}

}  // namespace kestrova::tool

#else

#include "platform/windows_types.h"
#include "tool/control_document.h"
#include "tool/text_encoding.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kestrova::tool {

namespace {

const wchar_t* const kMonitorName = L"KestrovaLM";
// The answer is read into this much room first: a control request must not
// be sent twice to learn its size (a second restore is a second command).
constexpr DWORD kFirstAnswerRoom = 64 * 1024;
// get_info alone may be asked again with the size the spooler asked for.
constexpr DWORD kLargestAnswer = 16u << 20;

std::wstring wideText(const std::string& text) {
    const WideString wide = utf16FromUtf8(text);
    return std::wstring(wide.begin(), wide.end());
}
std::string utf8(const wchar_t* text) {
    if (text == nullptr) return {};
    const std::wstring s(text);
    return utf8FromUtf16(WideString(s.begin(), s.end()));
}

bool sameName(const wchar_t* a, const wchar_t* b) {
    return a != nullptr && b != nullptr && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool shortOfRoom(DWORD error) { return error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA; }

class OpenedPrinter {
public:
    OpenedPrinter() = default;
    ~OpenedPrinter() {
        if (handle_ != nullptr) ClosePrinter(handle_);
    }
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;

    // 0 or OpenPrinterW's last error.
    DWORD open(const std::wstring& name, ACCESS_MASK access) {
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
        SetLastError(0);
        if (OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle_, &defaults)) return 0;
        handle_ = nullptr;
        const DWORD error = GetLastError();
        return error == 0 ? ERROR_INVALID_PRINTER_NAME : error;
    }
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// The driver's language monitor, or nullopt with the reason.
std::optional<std::wstring> monitorOf(HANDLE printer, std::string& error) {
    DWORD needed = 0;
    std::vector<BYTE> room;
    for (int attempt = 0; attempt < 3; ++attempt) {
        SetLastError(0);
        if (GetPrinterDriverW(printer, nullptr, 3, room.empty() ? nullptr : room.data(),
                              static_cast<DWORD>(room.size()), &needed)) {
            const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(room.data());
            return std::wstring(info->pMonitorName != nullptr ? info->pMonitorName : L"");
        }
        const DWORD lastError = GetLastError();
        if (!shortOfRoom(lastError) || needed <= room.size() || needed > kLargestAnswer) {
            error = "GetPrinterDriverW failed, error " + std::to_string(lastError);
            return std::nullopt;
        }
        room.assign(needed, 0);
    }
    error = "GetPrinterDriverW kept asking for more room";
    return std::nullopt;
}

class SpoolerPrinterDirectory final : public MachineDirectory {
public:
    bool list(std::vector<MachineEntry>& out, std::string& error) override {
        out.clear();
        DWORD needed = 0;
        DWORD returned = 0;
        std::vector<BYTE> room;
        for (int attempt = 0;; ++attempt) {
            SetLastError(0);
            if (EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2,
                              room.empty() ? nullptr : room.data(), static_cast<DWORD>(room.size()), &needed,
                              &returned)) {
                break;
            }
            const DWORD lastError = GetLastError();
            if (attempt >= 3 || !shortOfRoom(lastError) || needed <= room.size() || needed > kLargestAnswer) {
                error = "EnumPrintersW failed, error " + std::to_string(lastError);
                return false;
            }
            room.assign(needed, 0);
        }
        const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(room.data());
        for (DWORD i = 0; i < returned; ++i) {
            if (printers[i].pPrinterName == nullptr) continue;
            OpenedPrinter printer;
            if (printer.open(printers[i].pPrinterName, PRINTER_ACCESS_USE) != 0) continue;
            std::string ignored;
            const auto monitor = monitorOf(printer.handle(), ignored);
            if (!monitor || !sameName(monitor->c_str(), kMonitorName)) continue;
            const std::string name = utf8(printers[i].pPrinterName);
            out.push_back({name, utf8(printers[i].pPortName), "--printer \"" + name + "\""});
        }
        return true;
    }

    bool send(const MachineEntry& entry, const std::string& document, ControlReply& reply,
              std::string& error) override {
        const auto command = requestedCommand(document);
        return askPrinter(entry.name, document, !command || *command != "get_info", reply, error) ==
               PrinterAnswer::Answered;
    }
};

}  // namespace

std::unique_ptr<MachineDirectory> spoolerPrinterDirectory() { return std::make_unique<SpoolerPrinterDirectory>(); }

PrinterAnswer askPrinter(const std::string& printerName, const std::string& document, bool changesProduction,
                         ControlReply& reply, std::string& error) {
    OpenedPrinter printer;
    const DWORD opened =
        printer.open(wideText(printerName), changesProduction ? PRINTER_ACCESS_ADMINISTER : PRINTER_ACCESS_USE);
    if (opened == ERROR_INVALID_PRINTER_NAME) {
        error = "no such printer: \"" + printerName + "\" (kestrova status lists the printers KestrovaLM drives)";
        return PrinterAnswer::NoSuchPrinter;
    }
    if (opened == ERROR_ACCESS_DENIED) {
        error = "the spooler refused to open \"" + printerName + "\" for " +
                (changesProduction ? "administering" : "use") +
                " (access denied): run from a command prompt opened as administrator";
        return PrinterAnswer::AccessDenied;
    }
    if (opened != 0) {
        error = "OpenPrinterW(\"" + printerName + "\") failed, error " + std::to_string(opened);
        return PrinterAnswer::Failed;
    }
    const auto monitor = monitorOf(printer.handle(), error);
    if (!monitor) return PrinterAnswer::Failed;
    if (!sameName(monitor->c_str(), kMonitorName)) {
        error = "that printer does not use KestrovaLM: \"" + printerName + "\"'s driver names " +
                (monitor->empty() ? std::string("no language monitor") : "the language monitor " + utf8(monitor->c_str()));
        return PrinterAnswer::NotKestrova;
    }

    const std::wstring request = wideText(document);
    std::vector<BYTE> room(kFirstAnswerRoom);
    DWORD type = 0;
    DWORD needed = 0;
    DWORD result = GetPrinterDataW(printer.handle(), const_cast<LPWSTR>(request.c_str()), &type, room.data(),
                                   static_cast<DWORD>(room.size()), &needed);
    if (shortOfRoom(result) && needed > room.size()) {
        const auto command = requestedCommand(document);
        if (changesProduction || !command || needed > kLargestAnswer) {
            // Asking again would carry the command out a second time.
            error = "the command was carried out, but its answer (" + std::to_string(needed) +
                    " bytes) is larger than the tool takes; kestrova status shows where the machine stands";
            return PrinterAnswer::Failed;
        }
        room.assign(needed, 0);
        result = GetPrinterDataW(printer.handle(), const_cast<LPWSTR>(request.c_str()), &type, room.data(),
                                 static_cast<DWORD>(room.size()), &needed);
    }
    reply = ControlReply{};
    reply.ok = result == ERROR_SUCCESS;
    reply.lastError = result;
    if (reply.ok) {
        // UTF-16 text, with or without a terminating NUL.
        const std::size_t units = std::min<std::size_t>(needed, room.size()) / sizeof(WCHAR);
        WideString text(reinterpret_cast<const WCHAR*>(room.data()), units);
        while (!text.empty() && text.back() == 0) text.pop_back();
        reply.document = utf8FromUtf16(text);
    }
    return PrinterAnswer::Answered;
}

}  // namespace kestrova::tool

#endif
