// The kx_api documents the tool sends and reads: the request for one command,
// the values of a result document, and what a hardware error code means.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::tool {

const std::vector<std::string>& controlCommands();
bool isControlCommand(const std::string& command);

// <kx_api><command value="..."/></kx_api>
std::string controlRequestText(const std::string& command);

// The command of a request document (UTF-8) as the module reads it, with
// the module's own reader; nullopt when the module takes it for no request
// and passes it on.
std::optional<std::string> requestedCommand(const std::string& utf8);

struct ResultValues {
    bool wellFormed = false;  // an XML document with a kx_api root
    bool hasResult = false;   // ...and a result element: the module handled it
    std::optional<std::uint32_t> jobId;
    std::optional<std::string> docName;
    std::optional<std::uint32_t> toProduce;
    std::optional<std::string> state;
    std::optional<std::int32_t> hwErrorCode;
    std::optional<std::int32_t> swErrorCode;
    std::optional<std::uint32_t> startDocPort;
    std::map<std::string, std::string> moduleInfo;
};

ResultValues readResultDocument(const std::string& utf8);

// "no reply within the read time-out", "the machine refused Load ...", ...
std::string describeErrorCode(std::int32_t code);

}  // namespace kestrova::tool
