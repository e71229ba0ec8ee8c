#include "checks/matrix/matrix_operator.h"

#include "standin/platform_standin.h"

#include <algorithm>

namespace kestrova::matrix {

namespace {

// The link's pause before each frame; only the loop's longer pause between
// two cycles is a boundary.
constexpr DWORD kLinkPauseMs = 10;
constexpr std::uint64_t kLookEveryMs = 1000;
// A card that halts this often is given up, as an operator would.
constexpr std::size_t kHaltsBeforeDeleting = 3;
// Room for a line that is busy for minutes (a trickled ModuleInfo reply
// takes 165 s) on top of every halt and restore.
constexpr std::uint64_t kJobAllowanceMs = 300000;
constexpr std::uint64_t kCardAllowanceMs = 60000;
constexpr std::size_t kContinueTries = 3;

}  // namespace

MatrixOperator::MatrixOperator(const tool::SpoolerHost& spooler, const simulator::MachineSimulator& machine,
                               std::vector<TimedRequest> requests)
    : desk_(spooler), machine_(machine), requests_(std::move(requests)) {
    std::stable_sort(requests_.begin(), requests_.end(),
                     [](const TimedRequest& a, const TimedRequest& b) { return a.boundary < b.boundary; });
}

void MatrixOperator::jobStarted(std::size_t job, std::size_t cards) {
    job_ = job;
    running_ = true;
    deletedAt_.reset();
    deadline_ = standin::nowMs() + kJobAllowanceMs + cards * kCardAllowanceMs;
}

std::optional<std::size_t> MatrixOperator::jobEnded() {
    running_ = false;
    return deletedAt_;
}

void MatrixOperator::pause(DWORD ms) {
    if (ms <= kLinkPauseMs || !running_) return;
    ++boundary_;
    framesAtBoundary_.push_back(machine_.status().framesReceived);
    while (nextRequest_ < requests_.size() && requests_[nextRequest_].boundary <= boundary_) {
        perform(requests_[nextRequest_++].command);
    }
    const std::uint64_t now = standin::nowMs();
    if (now >= nextLook_ && !deletedAt_) {
        nextLook_ = now + kLookEveryMs;
        const tool::ResultValues status = send("get_info");
        // A machine that does not answer get_info itself (sw_error_code) is
        // not restored yet: the person waits for the line to come back.
        if (status.hwErrorCode.value_or(0) != 0 && status.swErrorCode.value_or(0) == 0) {
            const std::size_t halts = ++halts_[{job_, status.toProduce.value_or(0)}];
            if (halts >= kHaltsBeforeDeleting) {
                problem("the same card halted " + std::to_string(halts) + " times (hw_error_code " +
                        std::to_string(*status.hwErrorCode) + "); the operator deletes the job");
                deleteJob();
            } else {
                ++restores_;
                send("restore");
            }
        }
    }
    if (!deletedAt_ && standin::nowMs() >= deadline_) {
        problem("the job has not ended in time; the operator deletes it");
        deleteJob();
    }
}

void MatrixOperator::finish() {
    if (paused_ > 0) perform("continue");
    const tool::ResultValues last = send("get_info");
    if (last.jobId.value_or(0) != 0 || last.toProduce.value_or(0) != 0 || last.hwErrorCode.value_or(0) != 0) {
        problem("after the last job the port is not clear: job " + std::to_string(last.jobId.value_or(0)) + ", " +
                std::to_string(last.toProduce.value_or(0)) + " cards to produce, hw_error_code " +
                std::to_string(last.hwErrorCode.value_or(0)));
    }
}

void MatrixOperator::perform(const std::string& command) {
    if (command == "delete_job") {
        if (running_ && !deletedAt_) deleteJob();
        return;
    }
    if (command == "pause" || command == "step") ++paused_;
    if (command != "continue") {
        send(command);
        return;
    }
    // A continue the machine did not confirm is sent again at the next
    // boundary: the person at the console sees the error and tries again.
    const tool::ResultValues answer = send(command);
    if (answer.swErrorCode.value_or(0) != 0 && continueTries_++ < kContinueTries) {
        requests_.insert(requests_.begin() + static_cast<std::ptrdiff_t>(nextRequest_),
                         TimedRequest{boundary_ + 1, command});
        return;
    }
    continueTries_ = 0;
    paused_ = std::max(paused_ - 1, 0);
}

void MatrixOperator::deleteJob() {
    send("delete_job");
    // delete_job makes no exchange: the frames so far are those before it.
    deletedAt_ = machine_.status().framesReceived;
}

tool::ResultValues MatrixOperator::send(const std::string& command) {
    std::string wrong;
    tool::ResultValues values = desk_.ask(command, wrong);
    if (!wrong.empty()) problem(wrong);
    return values;
}

void MatrixOperator::problem(const std::string& what) {
    problems_.push_back(simulator::AuditFinding{job_, 0, what + " (at " + std::to_string(standin::nowMs()) + " ms)"});
}

}  // namespace kestrova::matrix
