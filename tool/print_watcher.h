// What kestrova print decides while it watches a job: from each get_info
// answer, timed on the platform clock, when a halt began, when to restore,
// when to give up; from Ctrl-C, a closed output or a delete_job from
// elsewhere, that the job is deleted; and at the end, whether it was and
// which exit status says so. It sends nothing and shows nothing itself:
// runPrint does what each step asks, in the order the step lists it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::tool {

class PrintWatcher {
public:
    enum class State {
        // The last status had no hardware error.
        Producing,
        // Halted, with --restore-after: the clock runs to the restore's time.
        HaltedUntilRestoreDue,
        // Halted without --restore-after: a restore from elsewhere ends it,
        // and the clock keeps the real clock's pace meanwhile.
        HaltedAwaitingRestore,
        // The restore went out; its answer ends the halt.
        Restoring,
        // The card halted again after --max-restores restores: delete_job sent.
        GaveUp,
        // A signal or a closed output: delete_job sent.
        Interrupted,
        // A delete_job came in from elsewhere (--control, or someone unknown).
        DeletedFromOutside,
        // Production has returned; finish() said how the job ended.
        Ended,
    };

    struct Rules {
        std::optional<std::uint64_t> restoreAfterMs;
        std::uint64_t maxRestores = 3;
        // Platform time production started at: no halt began before it.
        std::uint64_t startMs = 0;
        // Shown once, at the first halt, when nothing here restores it.
        std::string haltHint;
    };

    // A get_info the module answered.
    struct Status {
        std::int32_t hwErrorCode = 0;
        // Cards the machine delivered, the status taken in.
        std::size_t produced = 0;
        std::uint64_t nowMs = 0;
        std::uint64_t lastProductionReadMs = 0;
        // Production was waiting at the clock's leash when the status was asked for.
        bool productionWaited = false;
    };

    enum class Request { None, Restore, DeleteJob };
    enum class ClockMove {
        Stay,
        // Production goes on: the clock may run its slack past now.
        LetGo,
        // The clock may run to clockMs.
        RunTo,
        // The clock keeps the real clock's pace from clockMs, where the halt was seen.
        FollowRealClock,
        // The job is deleted: no leash any more.
        Unleash,
    };
    // What to do, in this order: note a halt, a restore and a halt's end in
    // the report, show the lines, send the request, move the clock.
    struct Step {
        std::optional<std::int32_t> haltBegan;
        bool restored = false;
        std::optional<std::uint64_t> haltOverMs;
        std::vector<std::string> lines;
        Request request = Request::None;
        ClockMove clock = ClockMove::Stay;
        std::uint64_t clockMs = 0;
    };

    explicit PrintWatcher(Rules rules);

    Step status(const Status& status);
    // The restore's answer; `produced` and `nowMs` as it came.
    Step restoreAnswered(std::int32_t swErrorCode, std::size_t produced, std::uint64_t nowMs);
    Step interrupted(const std::string& signalName);
    Step outputClosed();
    // `by` as the summary says it: "by a delete_job request received on ...".
    Step deletedFromOutside(const std::string& by);

    struct Ending {
        bool deleted = false;
        // Who deleted the job, as the summary says it; empty when it was not deleted.
        std::string deletion;
        // How the last line begins when the job was deleted.
        std::string lastLine;
        // Shown before the summary.
        std::vector<std::string> lines;
        int exitStatus = 0;
    };
    // Production returned `endDocSucceeded`; `deletedFromOutside` is what a
    // delete_job from --control left ("" if none), and the counts as the
    // machine delivered them.
    Ending finish(bool endDocSucceeded, const std::string& deletedFromOutside, std::size_t produced,
                  std::size_t spoiled, std::size_t total);

    State state() const { return state_; }
    bool halted() const;
    // Deleted by kestrova or from outside: the job only needs watching until production ends.
    bool deleted() const;

private:
    Step deleteJob(State why, const std::string& ending, const std::string& by);

    Rules rules_;
    State state_ = State::Producing;
    // Platform time the current halt began at (production's last read), and was seen at.
    std::uint64_t haltedSinceMs_ = 0;
    std::uint64_t haltSeenAtMs_ = 0;
    bool hinted_ = false;
    // Restores sent since the count of cards delivered last moved on.
    std::uint64_t restoresOfThisCard_ = 0;
    std::size_t producedAtLastRestore_ = 0;
    std::string ending_;
    std::string deletion_;
};

}  // namespace kestrova::tool
