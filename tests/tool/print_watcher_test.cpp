// kestrova print's watch of a job without a module: each row feeds the
// watcher one event (a get_info answer, a restore's answer, a signal, a
// deletion from outside, production's end) and says what it must decide.
#include "case_name.h"
#include "tool/exit_codes.h"
#include "tool/print_watcher.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::testing {
namespace {

using tool::PrintWatcher;
using State = PrintWatcher::State;
using Request = PrintWatcher::Request;
using Move = PrintWatcher::ClockMove;

constexpr std::int32_t kNoReply = -2;
constexpr std::int32_t kReject = 0x1503;

struct Event {
    enum class Kind { Status, RestoreAnswer, Interrupt, OutputClosed, Outside, Finish } kind;
    std::int32_t code = 0;  // hardware error; the restore's sw_error_code
    std::size_t produced = 0;
    std::uint64_t nowMs = 0;
    std::uint64_t lastReadMs = 0;
    bool flag = false;  // production waited at the leash; EndDocPort succeeded
    std::string text;   // the signal; who deleted the job
    std::size_t spoiled = 0;
    std::size_t total = 3;
};

Event status(std::int32_t hw, std::size_t produced, std::uint64_t now, std::uint64_t lastRead, bool waited = false) {
    return {Event::Kind::Status, hw, produced, now, lastRead, waited, {}, 0, 3};
}
Event restored(std::int32_t sw, std::size_t produced, std::uint64_t now) {
    return {Event::Kind::RestoreAnswer, sw, produced, now, 0, false, {}, 0, 3};
}
Event interrupt(const char* name) { return {Event::Kind::Interrupt, 0, 0, 0, 0, false, name, 0, 3}; }
Event outputClosed() { return {Event::Kind::OutputClosed, 0, 0, 0, 0, false, {}, 0, 3}; }
Event outside(const char* by) { return {Event::Kind::Outside, 0, 0, 0, 0, false, by, 0, 3}; }
Event finish(bool endDocSucceeded, std::size_t produced, std::size_t spoiled = 0, const char* outsideBy = "") {
    return {Event::Kind::Finish, 0, produced, 0, 0, endDocSucceeded, outsideBy, spoiled, 3};
}

// What a step asks for; for finish(), the lines before the summary, the
// exit status, how the last line begins and the summary's "deleted" (empty:
// not deleted).
struct Then {
    State state;
    Request request = Request::None;
    Move clock = Move::Stay;
    std::uint64_t clockMs = 0;
    std::vector<std::string> says;
    std::optional<std::int32_t> haltBegan;
    std::optional<std::uint64_t> haltOverMs;
    int exitStatus = 0;
    std::string lastLine;
    std::string deletion;

    Then asks(Request r) const { Then t = *this; t.request = r; return t; }
    Then moves(Move m, std::uint64_t ms = 0) const { Then t = *this; t.clock = m; t.clockMs = ms; return t; }
    Then saying(std::vector<std::string> lines) const { Then t = *this; t.says = std::move(lines); return t; }
    Then halting(std::int32_t hw) const { Then t = *this; t.haltBegan = hw; return t; }
    Then haltOver(std::uint64_t ms) const { Then t = *this; t.haltOverMs = ms; return t; }
    Then exits(int status, std::string last = {}, std::string by = {}) const {
        Then t = *this;
        t.exitStatus = status;
        t.lastLine = std::move(last);
        t.deletion = std::move(by);
        return t;
    }
};

Then in(State state) {
    Then t;
    t.state = state;
    return t;
}

struct Row {
    Event event;
    Then then;
};

struct Case {
    const char* name;
    PrintWatcher::Rules rules;
    std::vector<Row> rows;
};

// A failure names the case, not its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const std::string kNoReplyHalt = "production halted: hardware error -2 (no complete reply within the read time-out)";
const std::string kRejectHalt =
    "production halted: hardware error 5379 (the machine refused a command, reject code 3)";
const char* const kHint = "the job waits for a restore";
const char* const kControl = "by a delete_job request received on --control 127.0.0.1:9461";

PrintWatcher::Rules restoringAfter(std::uint64_t ms, std::uint64_t most, std::uint64_t startMs = 0) {
    return {ms, most, startMs, kHint};
}
PrintWatcher::Rules waitingForARestore() { return {std::nullopt, 3, 0, kHint}; }

const std::string kHaltedBeforeDelete = ": delete_job sent, the job ends without the card in production";
const std::string kGaveUpAfterTwo =
    "gave up: card 2 halted again (hardware error 5379, the machine refused a command, reject code 3) after 2 "
    "restore(s); --max-restores 2";
const std::string kDeletedOnControl = std::string("the job was deleted ") + kControl +
                                      "; it ends without the card in production";

const Case kCases[] = {
    {"TimedRestoreComesWhenTheHaltHasLastedItsTime",
     restoringAfter(500, 3, 10),
     {
         {status(0, 0, 200, 190), in(State::Producing)},
         // A pause longer than the slack, not a halt.
         {status(0, 0, 300, 280, true), in(State::Producing).moves(Move::LetGo)},
         {status(kNoReply, 1, 1100, 1000),
          in(State::HaltedUntilRestoreDue).moves(Move::RunTo, 1500).saying({kNoReplyHalt}).halting(kNoReply)},
         {status(kNoReply, 1, 1400, 1000), in(State::HaltedUntilRestoreDue).moves(Move::RunTo, 1500)},
         {status(kNoReply, 1, 1560, 1000), in(State::Restoring).asks(Request::Restore)},
         {restored(0, 1, 1560), in(State::Producing)
                                    .moves(Move::LetGo)
                                    .saying({"restore sent after 560 ms halted (sw_error_code 0)"})
                                    .haltOver(560)},
         {finish(true, 3), in(State::Ended).exits(tool::exit_code::Success)},
     }},
    {"AHaltBeforeProductionsFirstReadBeganAtItsStart",
     restoringAfter(500, 3, 50),
     {
         {status(kNoReply, 0, 100, 0),
          in(State::HaltedUntilRestoreDue).moves(Move::RunTo, 550).saying({kNoReplyHalt}).halting(kNoReply)},
     }},
    {"TheSameCardHaltingAfterMaxRestoresIsGivenUp",
     restoringAfter(0, 2),
     {
         {status(kReject, 1, 100, 90), in(State::Restoring).asks(Request::Restore).saying({kRejectHalt}).halting(kReject)},
         {restored(7, 1, 120), in(State::Producing)
                                   .moves(Move::LetGo)
                                   .saying({"restore sent after 30 ms halted (sw_error_code 7)"})
                                   .haltOver(30)},
         {status(kReject, 1, 200, 190), in(State::Restoring).asks(Request::Restore).saying({kRejectHalt}).halting(kReject)},
         {restored(0, 1, 210), in(State::Producing)
                                   .moves(Move::LetGo)
                                   .saying({"restore sent after 20 ms halted (sw_error_code 0)"})
                                   .haltOver(20)},
         {status(kReject, 1, 300, 290), in(State::GaveUp)
                                            .asks(Request::DeleteJob)
                                            .moves(Move::Unleash)
                                            .saying({kGaveUpAfterTwo + kHaltedBeforeDelete})
                                            .halting(kReject)},
         // Deleted: only watched until production ends.
         {status(kReject, 1, 400, 290), in(State::GaveUp)},
         {status(0, 1, 500, 490, true), in(State::GaveUp)},
         {interrupt("Ctrl-C"), in(State::GaveUp)},
         {finish(true, 1), in(State::Ended).exits(tool::exit_code::Failed, kGaveUpAfterTwo,
                                                  "by kestrova, giving up (--max-restores)")},
     }},
    {"ACardDeliveredStartsTheRestoreCountAgain",
     restoringAfter(0, 1),
     {
         {status(kNoReply, 0, 100, 90),
          in(State::Restoring).asks(Request::Restore).saying({kNoReplyHalt}).halting(kNoReply)},
         {restored(0, 0, 100), in(State::Producing)
                                   .moves(Move::LetGo)
                                   .saying({"restore sent after 10 ms halted (sw_error_code 0)"})
                                   .haltOver(10)},
         {status(kNoReply, 1, 200, 190),
          in(State::Restoring).asks(Request::Restore).saying({kNoReplyHalt}).halting(kNoReply)},
         {restored(0, 1, 200), in(State::Producing)
                                   .moves(Move::LetGo)
                                   .saying({"restore sent after 10 ms halted (sw_error_code 0)"})
                                   .haltOver(10)},
         {status(kNoReply, 1, 300, 290),
          in(State::GaveUp)
              .asks(Request::DeleteJob)
              .moves(Move::Unleash)
              .saying({"gave up: card 2 halted again (hardware error -2, no complete reply within the read "
                       "time-out) after 1 restore(s); --max-restores 1" +
                       kHaltedBeforeDelete})
              .halting(kNoReply)},
     }},
    {"WithoutRestoreAfterAHaltWaitsAtTheRealPaceAndHintsOnce",
     waitingForARestore(),
     {
         {status(kNoReply, 0, 1000, 900), in(State::HaltedAwaitingRestore)
                                              .moves(Move::FollowRealClock, 1000)
                                              .saying({kNoReplyHalt, kHint})
                                              .halting(kNoReply)},
         {status(kNoReply, 0, 1500, 900), in(State::HaltedAwaitingRestore).moves(Move::FollowRealClock, 1000)},
         // Restored from elsewhere: the halt lasted until production's first read after it.
         {status(0, 0, 2000, 1800), in(State::Producing).moves(Move::LetGo).haltOver(900)},
         {status(kReject, 1, 3000, 2900), in(State::HaltedAwaitingRestore)
                                              .moves(Move::FollowRealClock, 3000)
                                              .saying({kRejectHalt})
                                              .halting(kReject)},
         // No restore of ours was sent.
         {restored(0, 1, 3100), in(State::HaltedAwaitingRestore)},
     }},
    {"ASignalWhileHaltedDeletesTheJobOnce",
     waitingForARestore(),
     {
         {status(kNoReply, 0, 1000, 900), in(State::HaltedAwaitingRestore)
                                              .moves(Move::FollowRealClock, 1000)
                                              .saying({kNoReplyHalt, kHint})
                                              .halting(kNoReply)},
         {interrupt("SIGTERM"), in(State::Interrupted)
                                    .asks(Request::DeleteJob)
                                    .moves(Move::Unleash)
                                    .saying({"interrupted by SIGTERM" + kHaltedBeforeDelete})},
         {interrupt("SIGTERM"), in(State::Interrupted)},
         {outputClosed(), in(State::Interrupted)},
         {outside(kControl), in(State::Interrupted)},
         {status(0, 0, 2000, 1800), in(State::Interrupted)},
         {finish(true, 1, 0, kControl),
          in(State::Ended).exits(tool::exit_code::Interrupted, "interrupted by SIGTERM", "by kestrova on SIGTERM")},
     }},
    {"AClosedOutputEndsLikeASignal",
     restoringAfter(100, 3),
     {
         {outputClosed(), in(State::Interrupted)
                              .asks(Request::DeleteJob)
                              .moves(Move::Unleash)
                              .saying({"output closed" + kHaltedBeforeDelete})},
         {finish(false, 0),
          in(State::Ended).exits(tool::exit_code::Interrupted, "output closed", "by kestrova, its output closed")},
     }},
    {"ADeleteFromOutsideMidJobEndsWithItsStatus",
     restoringAfter(100, 3),
     {
         {outside(""), in(State::Producing)},
         {outside(kControl), in(State::DeletedFromOutside).moves(Move::Unleash).saying({kDeletedOnControl})},
         {status(kNoReply, 1, 1000, 900), in(State::DeletedFromOutside)},
         {finish(true, 1, 0, kControl),
          in(State::Ended).exits(tool::exit_code::JobDeleted, std::string("deleted ") + kControl, kControl)},
     }},
    {"ADeleteFromOutsideAfterTheLastCardDeletedNothing",
     restoringAfter(100, 3),
     {
         {outside(kControl), in(State::DeletedFromOutside).moves(Move::Unleash).saying({kDeletedOnControl})},
         {finish(true, 3, 0, kControl),
          in(State::Ended)
              .saying({"the delete_job came after the machine had delivered every card: nothing was deleted"})
              .exits(tool::exit_code::Success)},
     }},
    {"ADeleteFromOutsideHeardOnlyAsTheJobEnded",
     restoringAfter(100, 3),
     {
         {finish(true, 1, 0, kControl),
          in(State::Ended).exits(tool::exit_code::JobDeleted, std::string("deleted ") + kControl, kControl)},
     }},
    {"AJobEndedWithCardsNeverDeliveredWasDeletedBySomeoneElse",
     waitingForARestore(),
     {
         {finish(true, 1, 1),
          in(State::Ended).exits(tool::exit_code::JobDeleted, "deleted, not by kestrova",
                                 "by someone else (not by kestrova): the job ended with cards never delivered")},
     }},
    {"SpoiledCardsCountAsDoneAtTheEnd",
     waitingForARestore(),
     {
         {finish(true, 2, 1), in(State::Ended).exits(tool::exit_code::Success)},
     }},
    {"AFailedEndDocPortIsAFailureNotADeletion",
     waitingForARestore(),
     {
         {finish(false, 1), in(State::Ended).exits(tool::exit_code::Failed)},
     }},
};

class PrintWatcherDecides : public ::testing::TestWithParam<Case> {};

TEST_P(PrintWatcherDecides, EachEventAsTheRowSays) {
    const Case& c = GetParam();
    PrintWatcher watcher(c.rules);
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const Event& e = c.rows[i].event;
        const Then& then = c.rows[i].then;
        SCOPED_TRACE("row " + std::to_string(i + 1));
        if (e.kind == Event::Kind::Finish) {
            const PrintWatcher::Ending ending = watcher.finish(e.flag, e.text, e.produced, e.spoiled, e.total);
            EXPECT_EQ(ending.lines, then.says);
            EXPECT_EQ(ending.exitStatus, then.exitStatus);
            EXPECT_EQ(ending.deleted, !then.deletion.empty());
            EXPECT_EQ(ending.deletion, then.deletion);
            EXPECT_EQ(ending.lastLine, then.lastLine);
            EXPECT_EQ(watcher.state(), then.state);
            continue;
        }
        PrintWatcher::Step step;
        switch (e.kind) {
        case Event::Kind::Status:
            step = watcher.status({e.code, e.produced, e.nowMs, e.lastReadMs, e.flag});
            break;
        case Event::Kind::RestoreAnswer:
            step = watcher.restoreAnswered(e.code, e.produced, e.nowMs);
            break;
        case Event::Kind::Interrupt:
            step = watcher.interrupted(e.text);
            break;
        case Event::Kind::OutputClosed:
            step = watcher.outputClosed();
            break;
        case Event::Kind::Outside:
            step = watcher.deletedFromOutside(e.text);
            break;
        case Event::Kind::Finish:
            break;
        }
        EXPECT_EQ(watcher.state(), then.state);
        EXPECT_EQ(step.request, then.request);
        EXPECT_EQ(step.clock, then.clock);
        if (then.clock == Move::RunTo || then.clock == Move::FollowRealClock) {
            EXPECT_EQ(step.clockMs, then.clockMs);
        }
        EXPECT_EQ(step.lines, then.says);
        EXPECT_EQ(step.haltBegan, then.haltBegan);
        EXPECT_EQ(step.haltOverMs, then.haltOverMs);
        // A restore counts when its answer ended the halt, and only then.
        EXPECT_EQ(step.restored, e.kind == Event::Kind::RestoreAnswer && then.state == State::Producing);
    }
}

INSTANTIATE_TEST_SUITE_P(Watch, PrintWatcherDecides, ::testing::ValuesIn(kCases), NamedCase());

}  // namespace
}  // namespace kestrova::testing
