// A job's bytes written through the module's StartDocPort and WritePort
// entries in pieces (the first input byte picks the piece size), then split
// into records and parsed as EndDocPort would before producing. The cards
// that come out must be sane: a layout always, no more cards than records,
// no line holding a line break, every item's key text taken from the job
// itself or, for a job without a header, from the previous document. A known
// job written next must come out whole, whatever came before.
#include "monitor/language_monitor.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "port/monitor_port.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace {

using namespace kestrova;

struct Rig {
    Rig() {
        standin::reset();
        table = InitializePrintMonitor2(nullptr, &monitor);
        if (table == nullptr) std::abort();
        spm.setRecordCalls(false);
        WideString portName(u"LPT1:");
        if (table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName.data(), printerName.data(), &handle,
                                 spm.table()) != TRUE) {
            std::abort();
        }
    }

    // Starts a document and writes the job in pieces, each wholly accepted.
    void print(const std::uint8_t* job, std::size_t size, std::size_t piece) {
        // The stand-in keeps every platform call; start each input afresh.
        standin::reset();
        if (table->pfnStartDocPort(handle, printerName.data(), 1, 1, nullptr) != TRUE) std::abort();
        for (std::size_t at = 0; at < size; at += piece) {
            const auto count = static_cast<DWORD>(std::min(piece, size - at));
            DWORD written = 0xDEADBEEF;
            if (table->pfnWritePort(handle, const_cast<LPBYTE>(job + at), count, &written) != TRUE) std::abort();
            if (written != count) std::abort();
        }
        MonitorPort& port = *static_cast<MonitorPort*>(handle);
        if (port.intake().bytesBuffered() != size) std::abort();
        port.intake().queueCards();
    }

    template <typename Work>
    void withQueue(Work&& work) {
        static_cast<MonitorPort*>(handle)->intake().withQueue(work);
    }

    standin::SoftwarePortMonitor spm;
    WideString printerName = u"Card Printer";
    HANDLE monitor = nullptr;
    LPMONITOR2 table = nullptr;
    HANDLE handle = nullptr;
};

constexpr std::string_view kKnownJob = "<SX856 SY540 N=name X120 Y45 F2 CI3>\n<ANNA\nKOWALSKA>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    if (size == 0) return 0;
    const std::size_t piece = std::size_t{data[0]} + 1;
    const std::uint8_t* job = data + 1;
    const std::size_t jobSize = size - 1;
    const std::string_view jobText(reinterpret_cast<const char*>(job), jobSize);

    rig.print(job, jobSize, piece);
    rig.withQueue([&](JobQueue& queue) {
        const std::size_t recordEnds = static_cast<std::size_t>(std::count(jobText.begin(), jobText.end(), '>'));
        const std::size_t lineBreaks = static_cast<std::size_t>(
            std::count_if(jobText.begin(), jobText.end(), [](char c) { return c == '\r' || c == '\n'; }));
        if (queue.layout == nullptr) std::abort();
        // A final record without '>' may still count.
        if (queue.size() > recordEnds + 1) std::abort();

        // A job without a header record prints with the layout the previous
        // document left: the known job's.
        const auto fromAJob = [&](const std::string& key) {
            return jobText.find(key) != std::string_view::npos || kKnownJob.find(key) != std::string_view::npos;
        };
        std::size_t lineBytes = 0;
        while (queue.size() > 0) {
            const JobRecord card = queue.front();
            if (card.layout() == nullptr) std::abort();
            for (const JobItem& item : card.items()) {
                if (!item.n.empty() && !fromAJob(item.n)) std::abort();
                if (!item.text.empty() && !fromAJob(item.text)) std::abort();
            }
            const CardLines& lines = card.lines();
            if (lines.size() > lineBreaks + 1) std::abort();
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const std::string_view line = lines[i];
                if (line.find('\r') != std::string_view::npos || line.find('\n') != std::string_view::npos) std::abort();
                lineBytes += line.size();
            }
            queue.popFront();
        }
        if (lineBytes > jobSize) std::abort();
    });

    // The next document knows nothing of this one.
    rig.print(reinterpret_cast<const std::uint8_t*>(kKnownJob.data()), kKnownJob.size(), kKnownJob.size());
    rig.withQueue([](JobQueue& queue) {
        if (queue.size() != 1) std::abort();
        const JobRecord card = queue.front();
        if (card.sx() != 856 || card.sy() != 540 || card.items().size() != 1 || card.items()[0].n != "name") {
            std::abort();
        }
        if (card.lines().size() != 2 || card.lines()[0] != "ANNA" || card.lines()[1] != "KOWALSKA") std::abort();
        queue.popFront();
    });
    return 0;
}
