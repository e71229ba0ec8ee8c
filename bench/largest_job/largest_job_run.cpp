#include "bench/largest_job/largest_job_run.h"

#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "standin/software_port_monitor.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::largest_job {

namespace {

constexpr std::size_t kWriteBytes = 64 * 1024;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kProgressEvery = 256 * kMiB;
constexpr std::size_t kReserveBytes = 32 * kMiB;
const char* const kHeader = "<]F1 FN=Arial SX856 SY540 U1 X100 Y200 F1 CI5 X101 Y230 F1 CI5 X102 Y260 F1 CI5 "
                            "X103 Y290 F1 CI5 X104 Y320 F1 CI5 X105 Y350 F1 CI5 X106 Y380 F1 CI5 X107 Y410 F1 CI5>\r\n";

// As many whole 8-line cards as fit one write.
std::string cardsForOneWrite(std::uint64_t& cards) {
    std::string out;
    char line[32];
    for (cards = 0; out.size() + kJobBytesPerCard <= kWriteBytes; ++cards) {
        out += '<';
        for (int i = 0; i < 8; ++i) {
            std::snprintf(line, sizeof line, "Card %06d line %d %c", static_cast<int>(cards), i, 'a' + i);
            out += line;
            out += i < 7 ? "\r\n" : "";
        }
        out += ">\r\n";
    }
    return out;
}

std::string ascii(const WCHAR* text, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units && text[i] != 0; ++i) out.push_back(static_cast<char>(text[i] & 0x7F));
    return out;
}

struct Written {
    std::uint64_t bytes = 0;
    std::uint64_t cards = 0;
    bool failed = false;
    BOOL result = TRUE;
    DWORD error = 0;
};

class Port {
public:
    Port(LPMONITOR2 table, HANDLE monitor, const Options& options) : table_(table), options_(options) {
        machine_.setRecording(false);
        ports_.setRecordCalls(false);
        ports_.setPeer(&peer_);
        WideString portName = wideFromAscii("KESTROVA:");
        table_->pfnOpenPortEx(monitor, ports_.monitorHandle(), portName.data(), printer_.data(), &handle_,
                              ports_.table());
    }
    ~Port() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            quit_ = true;
        }
        wake_.notify_all();
        watcher_.join();
        if (handle_ != nullptr) table_->pfnClosePort(handle_);
        ports_.setPeer(nullptr);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool open() const { return handle_ != nullptr; }

    // A new document whose job is written until `limit` bytes or a failed write.
    Written writeJob(std::uint64_t limit) {
        WideString docName = wideFromAscii("largest job");
        WideString datatype = wideFromAscii("RAW");
        DOC_INFO_1W info{docName.data(), nullptr, datatype.data()};
        table_->pfnStartDocPort(handle_, printer_.data(), ++jobId_, 1, reinterpret_cast<LPBYTE>(&info));
        Written out;
        std::string header = kHeader;
        if (!write(header, out)) return out;
        std::uint64_t nextProgress = kProgressEvery;
        while (out.bytes + cards_.size() <= limit) {
            if (!write(cards_, out)) return out;
            out.cards += cardsPerWrite_;
            if (out.bytes >= nextProgress && options_.progress) {
                options_.progress("written " + std::to_string(out.bytes / kMiB) + " MiB");
                nextProgress += kProgressEvery;
            }
        }
        return out;
    }

    // EndDocPort, while the watcher thread looks for the intake to finish:
    // as soon as "get_info" reports cards to produce, their count is noted
    // and the job deleted, so that EndDocPort returns.
    BOOL endDocument(std::uint64_t& queued) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ended_ = false;
            seen_ = 0;
            controlFailed_ = false;
            watching_ = true;
        }
        wake_.notify_all();
        const BOOL result = table_->pfnEndDocPort(handle_);
        std::unique_lock<std::mutex> guard(lock_);
        ended_ = true;
        wake_.wait(guard, [&] { return !watching_; });
        queued = seen_;
        return result;
    }

    std::uint64_t cardsDelivered() const { return machine_.status().cardsDelivered; }

    // Memory held back while a job is written, so that a job that leaves
    // the process too little to answer control requests can still be
    // deleted: given back when a request goes unanswered.
    void holdReserve(std::size_t bytes) { ballast_.reset(new char[bytes]); }
    void dropReserve() { ballast_.reset(); }
    // Whether a control request went unanswered during the last EndDocPort.
    bool controlFailed() const { return controlFailed_; }

    BOOL print(const std::string& job) {
        table_->pfnStartDocPort(handle_, printer_.data(), ++jobId_, 0, nullptr);
        std::string bytes = job;
        DWORD written = 0;
        table_->pfnWritePort(handle_, reinterpret_cast<LPBYTE>(bytes.data()), static_cast<DWORD>(bytes.size()),
                             &written);
        return table_->pfnEndDocPort(handle_);
    }

private:
    bool write(std::string& bytes, Written& out) {
        DWORD written = 0;
        SetLastError(0);
        const BOOL result = table_->pfnWritePort(handle_, reinterpret_cast<LPBYTE>(bytes.data()),
                                                 static_cast<DWORD>(bytes.size()), &written);
        if (result != TRUE) {
            out.failed = true;
            out.result = result;
            out.error = GetLastError();
            return false;
        }
        out.bytes += written;
        return true;
    }

    // The watcher is started before memory runs short: once the job has
    // filled the address space, no new thread could get a stack.
    void watch() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            wake_.wait(guard, [&] { return watching_ || quit_; });
            if (quit_) return;
            while (!ended_) {
                guard.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                std::uint64_t toProduce = 0;
                const bool answered = request("get_info", toProduce);
                if (!answered) {
                    // The job left too little memory to answer: with the
                    // reserve given back, the job can at least be deleted.
                    ballast_.reset();
                    controlFailed_ = true;
                }
                if (toProduce > 0 || !answered) {
                    std::uint64_t ignored = 0;
                    while (!request("delete_job", ignored)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                guard.lock();
                if (toProduce > 0 || !answered) {
                    seen_ = toProduce;
                    break;
                }
            }
            watching_ = false;
            wake_.notify_all();
        }
    }

    // Sends a control request; false if it was not answered. `toProduce` is
    // what the answer reports (0 if nothing).
    bool request(const char* command, std::uint64_t& toProduce) {
        toProduce = 0;
        std::string reply;
        try {
            WideString text =
                wideFromAscii(("<kx_api><command value=\"" + std::string(command) + "\"/></kx_api>").c_str());
            std::vector<WCHAR> out(8192);
            DWORD returned = 0;
            if (table_->pfnGetPrinterDataFromPort(handle_, 0, text.data(), nullptr, 0, out.data(),
                                                  static_cast<DWORD>(out.size() * sizeof(WCHAR)), &returned) != TRUE) {
                return false;
            }
            reply = ascii(out.data(), returned / sizeof(WCHAR));
        } catch (const std::bad_alloc&) {
            return false;  // this program's own part of the request
        }
        const std::string key = "<to_produce value=\"";
        const std::size_t at = reply.find(key);
        if (at != std::string::npos) toProduce = std::strtoull(reply.c_str() + at + key.size(), nullptr, 10);
        return true;
    }

    LPMONITOR2 table_;
    const Options& options_;
    simulator::MachineSimulator machine_{simulator::MachineDurations::instant()};
    simulator::SimulatorPeer peer_{machine_};
    standin::SoftwarePortMonitor ports_;
    WideString printer_ = wideFromAscii("Card Printer");
    HANDLE handle_ = nullptr;
    DWORD jobId_ = 0;
    std::uint64_t cardsPerWrite_ = 0;
    std::string cards_ = cardsForOneWrite(cardsPerWrite_);
    std::mutex lock_;
    std::condition_variable wake_;
    bool watching_ = false;
    bool ended_ = false;
    bool quit_ = false;
    std::uint64_t seen_ = 0;
    bool controlFailed_ = false;
    std::unique_ptr<char[]> ballast_;
    std::thread watcher_{[this] { watch(); }};
};

}  // namespace

Result measure(LPMONITOR2 table, HANDLE monitor, const Options& options) {
    Result result;
    Port port(table, monitor, options);
    if (!port.open()) return result;
    const auto peak = [&] { return options.peakMemory ? options.peakMemory() : 0; };
    const auto printed = [&] { return options.jobsReportedPrinted ? options.jobsReportedPrinted() : 0; };

    // 1. Until storing fails.
    const Written first = port.writeJob(options.capBytes);
    result.storeFailed = first.failed;
    result.bytesStored = first.bytes;
    result.cardsStored = first.cards;
    result.failedWriteResult = first.result;
    result.failedWriteError = first.error;
    result.peakAfterStoring = peak();
    if (options.progress) {
        options.progress(first.failed ? "storing failed after " + std::to_string(first.bytes / kMiB) + " MiB"
                                      : "the cap was reached: " + std::to_string(first.bytes / kMiB) + " MiB");
    }

    // 2. Its end.
    const std::uint64_t delivered = port.cardsDelivered();
    const std::uint64_t printedBefore = printed();
    std::uint64_t queued = 0;
    result.endDocResult = port.endDocument(queued);
    result.cardsProducedOfFailedJob = port.cardsDelivered() - delivered;
    if (!first.failed && result.endDocResult == TRUE && queued == first.cards) {
        result.printableBytes = first.bytes;  // the whole capped job went into the queue
        result.printableCards = first.cards;
    }
    if (options.jobsReportedPrinted) result.reportedPrinted = printed() > printedBefore ? 1 : 0;

    // 3. The next document.
    const std::uint64_t before = port.cardsDelivered();
    const BOOL next = port.print("<SX856 SY540 X120 Y45 F2 CI3><ANNA KOWALSKA><BERNARD OKAFOR>");
    result.nextDocumentWhole = next == TRUE && port.cardsDelivered() - before == 2;

    // 4. The largest job stored and queued whole.
    if (first.failed) {
        for (const double fraction : {0.98, 0.95, 0.9, 0.8, 0.7, 0.6, 0.5}) {
            const auto target = static_cast<std::uint64_t>(fraction * static_cast<double>(first.bytes));
            if (options.progress) options.progress("trying a job of " + std::to_string(target / kMiB) + " MiB");
            port.holdReserve(kReserveBytes);
            const Written job = port.writeJob(target);
            std::uint64_t queuedCards = 0;
            const BOOL ended = port.endDocument(queuedCards);
            port.dropReserve();
            if (port.controlFailed() && result.controlFailedBytes == 0) result.controlFailedBytes = job.bytes;
            if (!job.failed && ended == TRUE && queuedCards == job.cards) {
                result.printableBytes = job.bytes;
                result.printableCards = job.cards;
                break;
            }
        }
    }
    result.peakOverall = peak();
    return result;
}

}  // namespace kestrova::largest_job
