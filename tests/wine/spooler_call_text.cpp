#include "tests/wine/spooler_call_text.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <sstream>

namespace kestrova::wine_check {

namespace {

std::string handleText(HANDLE handle) {
    if (handle == nullptr) return "NULL";
    char text[32];
    std::snprintf(text, sizeof text, "0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(handle));
    return text;
}

// The printer name in quotes: ASCII as it is, other units as \uXXXX.
std::string quoted(const WideString& text) {
    std::string out = "\"";
    char escape[8];
    for (WCHAR unit : text) {
        const auto code = static_cast<unsigned>(unit);
        if (code >= 0x20 && code < 0x7F && code != '"' && code != '\\') {
            out.push_back(static_cast<char>(code));
        } else {
            std::snprintf(escape, sizeof escape, "\\u%04X", code);
            out += escape;
        }
    }
    return out + "\"";
}

const char* nullOr(bool isNull) { return isNull ? "NULL" : "set"; }

// The value after `key ` in a record line, or "".
std::string field(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(" " + key + " ");
    if (at == std::string::npos) return "";
    std::istringstream rest(line.substr(at + key.size() + 2));
    std::string value;
    rest >> value;
    return value;
}

}  // namespace

std::string spoolerCallText(const standin::PlatformCall& call) {
    char access[16];
    if (call.name == "OpenPrinterW") {
        std::string line = "OpenPrinterW " + quoted(call.text);
        if (call.defaultsGiven) {
            std::snprintf(access, sizeof access, "0x%08" PRIX32, static_cast<std::uint32_t>(call.desiredAccess));
            line += std::string(" datatype ") + nullOr(call.defaultsDatatypeNull) + " devmode " +
                    nullOr(call.defaultsDevModeNull) + " access " + access;
        } else {
            line += " defaults NULL";
        }
        return line + " -> " + (call.handle != nullptr ? handleText(call.handle) : "failed");
    }
    if (call.name == "SetJobW") {
        return "SetJobW " + handleText(call.handle) + " job " + std::to_string(call.jobId) + " level " +
               std::to_string(call.level) + " pJob " + nullOr(call.jobNull) + " command " +
               std::to_string(call.command);
    }
    if (call.name == "ClosePrinter") return "ClosePrinter " + handleText(call.handle);
    return "";
}

std::string spoolerCallRecord(const std::vector<standin::PlatformCall>& calls) {
    std::string record;
    for (const auto& call : calls) {
        const std::string line = spoolerCallText(call);
        if (!line.empty()) record += line + "\n";
    }
    return record;
}

std::string spoolerCallSummary(const std::string& record) {
    std::istringstream lines(record);
    std::string line;
    std::string summary;
    while (std::getline(lines, line)) {
        std::string name = line.substr(0, line.find(' '));
        if (name == "OpenPrinterW" && line.size() >= 6 && line.compare(line.size() - 6, 6, "failed") == 0) {
            name += " failed";
        } else if (name == "SetJobW") {
            name += " " + field(line, "job") + "/" + field(line, "command");
        }
        summary += (summary.empty() ? "" : ", ") + name;
    }
    return summary;
}

}  // namespace kestrova::wine_check
