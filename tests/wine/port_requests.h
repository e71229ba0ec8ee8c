// What the spooler's side sends a port of the module under test: a kx_api
// document through GetPrinterDataFromPort, a whole document (StartDocPort,
// WritePort in small pieces, EndDocPort), and the files the checks leave
// for run.sh to compare across builds.
#pragma once

#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::wine_check {

struct ControlReply {
    BOOL result = FALSE;
    DWORD returned = 0;
    DWORD lastError = 0;
    std::vector<std::uint8_t> bytes;  // what the module wrote, *returned bytes of it
    std::string text;                 // the same as ASCII ('?' beyond)
};

WideString wide(const std::string& text);
bool contains(const std::string& text, const std::string& part);

// <kx_api><command value="COMMAND"/></kx_api>
std::string commandDocument(const std::string& command);

ControlReply request(const MONITOR2& table, HANDLE port, WideString& valueName, DWORD outBytes = 64 * 1024);
inline ControlReply request(const MONITOR2& table, HANDLE port, const std::string& document,
                            DWORD outBytes = 64 * 1024) {
    WideString valueName = wide(document);
    return request(table, port, valueName, outBytes);
}

// The job's bytes in pieces of 7 through WritePort; true if every byte was taken.
bool writeJob(const MONITOR2& table, HANDLE port, const std::string& job);

// Writes `bytes` to outDir/name as they are; false if that failed.
bool saveFile(const std::string& outDir, const std::string& name, const std::string& bytes);
inline bool saveDocument(const std::string& outDir, const std::string& name, const ControlReply& reply) {
    return saveFile(outDir, name + ".xml", std::string(reply.bytes.begin(), reply.bytes.end()));
}

}  // namespace kestrova::wine_check
