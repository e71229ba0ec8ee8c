#include "tests/wine/port_requests.h"

#include "platform/platform_calls.h"

#include <fstream>

namespace kestrova::wine_check {

WideString wide(const std::string& text) { return wideFromAscii(text.c_str()); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string commandDocument(const std::string& command) {
    return "<kx_api><command value=\"" + command + "\"/></kx_api>";
}

ControlReply request(const MONITOR2& table, HANDLE port, WideString& valueName, DWORD outBytes) {
    ControlReply reply;
    std::vector<WCHAR> out(outBytes / sizeof(WCHAR) + 1, WCHAR(0x2A2A));
    DWORD returned = 0xFFFFFFFF;
    SetLastError(0);
    reply.result =
        table.pfnGetPrinterDataFromPort(port, 0, valueName.data(), nullptr, 0, out.data(), outBytes, &returned);
    reply.lastError = GetLastError();
    reply.returned = returned;
    if (reply.result == TRUE && returned <= outBytes) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(out.data());
        reply.bytes.assign(bytes, bytes + returned);
    }
    for (std::size_t i = 0; i + 1 < reply.bytes.size(); i += 2) {
        const unsigned unit = reply.bytes[i] | (reply.bytes[i + 1] << 8);
        reply.text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return reply;
}

bool writeJob(const MONITOR2& table, HANDLE port, const std::string& job) {
    bool written = true;
    for (std::size_t at = 0; at < job.size(); at += 7) {
        std::string piece = job.substr(at, 7);
        DWORD count = 0;
        written = written &&
                  table.pfnWritePort(port, reinterpret_cast<LPBYTE>(piece.data()), static_cast<DWORD>(piece.size()),
                                     &count) == TRUE &&
                  count == piece.size();
    }
    return written;
}

bool saveFile(const std::string& outDir, const std::string& name, const std::string& bytes) {
    std::ofstream file(outDir + "/" + name, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file.good();
}

}  // namespace kestrova::wine_check
