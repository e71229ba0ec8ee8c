// The identity of the document in progress on a port.
#pragma once

#include "platform/wide_string.h"

#include <cstdint>

namespace kestrova {

struct DocInfo {
    WideString docName;
    WideString outputFile;
    WideString datatype;
    std::uint32_t mode = 0;
    std::uint32_t docJobId = 0;
};

struct JobInfo {
    WideString jobPrinterName;
    std::uint32_t jobId = 0;  // 0: no document started
    std::uint32_t level = 0;
    DocInfo docInfo;

    void clear() { *this = JobInfo(); }
};

}  // namespace kestrova
