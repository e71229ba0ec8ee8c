#include "tool/print_watcher.h"

#include "tool/control_document.h"
#include "tool/exit_codes.h"
#include "tool/print_report.h"

#include <algorithm>
#include <utility>

namespace kestrova::tool {

PrintWatcher::PrintWatcher(Rules rules) : rules_(std::move(rules)) {}

bool PrintWatcher::halted() const {
    return state_ == State::HaltedUntilRestoreDue || state_ == State::HaltedAwaitingRestore ||
           state_ == State::Restoring;
}

bool PrintWatcher::deleted() const {
    return state_ == State::GaveUp || state_ == State::Interrupted || state_ == State::DeletedFromOutside;
}

PrintWatcher::Step PrintWatcher::status(const Status& status) {
    Step step;
    // A deleted job only needs watching until production has ended.
    if (deleted() || state_ == State::Ended) return step;
    const std::int32_t hw = status.hwErrorCode;
    if (hw == 0) {
        if (halted()) {
            // Restored from elsewhere: the halt ended with production's first exchange after it.
            step.haltOverMs = status.lastProductionReadMs - std::min(status.lastProductionReadMs, haltedSinceMs_);
            step.clock = ClockMove::LetGo;
        } else if (status.productionWaited) {
            // A pause longer than the slack, not a halt.
            step.clock = ClockMove::LetGo;
        }
        // Otherwise production moves the leash on with its own reads; letting
        // it go from now could carry a halt that began since this status
        // was taken past its restore time.
        state_ = State::Producing;
        return step;
    }
    if (!halted() && rules_.restoreAfterMs && restoresOfThisCard_ >= rules_.maxRestores &&
        status.produced == producedAtLastRestore_) {
        step = deleteJob(State::GaveUp,
                         "gave up: card " + std::to_string(status.produced + 1) + " halted again (hardware error " +
                             std::to_string(hw) + ", " + describeErrorCode(hw) + ") after " +
                             std::to_string(restoresOfThisCard_) + " restore(s); --max-restores " +
                             std::to_string(rules_.maxRestores),
                         "by kestrova, giving up (--max-restores)");
        step.haltBegan = hw;
        return step;
    }
    if (!halted()) {
        // The halt began with the exchange that failed: production's last read.
        haltedSinceMs_ = std::max(status.lastProductionReadMs, rules_.startMs);
        haltSeenAtMs_ = status.nowMs;
        step.haltBegan = hw;
        step.lines.push_back("production halted: hardware error " + std::to_string(hw) + " (" +
                             describeErrorCode(hw) + ")");
        if (!rules_.restoreAfterMs && !hinted_) {
            hinted_ = true;
            step.lines.push_back(rules_.haltHint);
        }
    }
    if (!rules_.restoreAfterMs) {
        state_ = State::HaltedAwaitingRestore;
        step.clock = ClockMove::FollowRealClock;
        step.clockMs = haltSeenAtMs_;
        return step;
    }
    const std::uint64_t due = haltedSinceMs_ + *rules_.restoreAfterMs;
    if (status.nowMs < due) {
        state_ = State::HaltedUntilRestoreDue;
        step.clock = ClockMove::RunTo;
        step.clockMs = due;
        return step;
    }
    state_ = State::Restoring;
    step.request = Request::Restore;
    return step;
}

PrintWatcher::Step PrintWatcher::restoreAnswered(std::int32_t swErrorCode, std::size_t produced,
                                                 std::uint64_t nowMs) {
    Step step;
    if (state_ != State::Restoring) return step;
    if (produced != producedAtLastRestore_) restoresOfThisCard_ = 0;
    producedAtLastRestore_ = produced;
    ++restoresOfThisCard_;
    const std::uint64_t haltedMs = nowMs - haltedSinceMs_;
    step.restored = true;
    step.haltOverMs = haltedMs;
    step.lines.push_back("restore sent after " + formatDuration(haltedMs) + " halted (sw_error_code " +
                         std::to_string(swErrorCode) + ")");
    step.clock = ClockMove::LetGo;
    state_ = State::Producing;
    return step;
}

PrintWatcher::Step PrintWatcher::deleteJob(State why, const std::string& ending, const std::string& by) {
    state_ = why;
    ending_ = ending;
    deletion_ = by;
    Step step;
    step.lines.push_back(ending + ": delete_job sent, the job ends without the card in production");
    step.request = Request::DeleteJob;
    step.clock = ClockMove::Unleash;
    return step;
}

PrintWatcher::Step PrintWatcher::interrupted(const std::string& signalName) {
    if (deleted() || state_ == State::Ended) return {};
    return deleteJob(State::Interrupted, "interrupted by " + signalName, "by kestrova on " + signalName);
}

PrintWatcher::Step PrintWatcher::outputClosed() {
    if (deleted() || state_ == State::Ended) return {};
    return deleteJob(State::Interrupted, "output closed", "by kestrova, its output closed");
}

PrintWatcher::Step PrintWatcher::deletedFromOutside(const std::string& by) {
    if (deleted() || state_ == State::Ended || by.empty()) return {};
    state_ = State::DeletedFromOutside;
    ending_ = "deleted " + by;
    deletion_ = by;
    Step step;
    step.lines.push_back("the job was deleted " + by + "; it ends without the card in production");
    step.clock = ClockMove::Unleash;
    return step;
}

PrintWatcher::Ending PrintWatcher::finish(bool endDocSucceeded, const std::string& deletedFromOutside,
                                          std::size_t produced, std::size_t spoiled, std::size_t total) {
    Ending ending;
    if (state_ == State::Ended) return ending;
    // A deletion from outside that came as the job ended, or one the tool
    // never heard of: the module reports nothing left to produce either
    // way, so the count of what the machine delivered has the last word.
    if (!deleted() && endDocSucceeded) {
        if (!deletedFromOutside.empty()) {
            state_ = State::DeletedFromOutside;
            deletion_ = deletedFromOutside;
            ending_ = "deleted " + deletedFromOutside;
        } else if (produced + spoiled < total) {
            state_ = State::DeletedFromOutside;
            deletion_ = "by someone else (not by kestrova): the job ended with cards never delivered";
            ending_ = "deleted, not by kestrova";
        }
    }
    ending.deleted = deleted();
    // A delete_job from outside that came once the last card was out deleted nothing.
    if (state_ == State::DeletedFromOutside && produced >= total) {
        ending.lines.push_back("the delete_job came after the machine had delivered every card: nothing was deleted");
        ending.deleted = false;
    }
    if (ending.deleted) {
        ending.deletion = deletion_;
        ending.lastLine = ending_;
        ending.exitStatus = state_ == State::GaveUp        ? exit_code::Failed
                            : state_ == State::Interrupted ? exit_code::Interrupted
                                                           : exit_code::JobDeleted;
    } else {
        ending.exitStatus = endDocSucceeded ? exit_code::Success : exit_code::Failed;
    }
    state_ = State::Ended;
    return ending;
}

}  // namespace kestrova::tool
