#include "checks/soak/soak_client.h"

#include "simulator/frame_trace.h"
#include "standin/platform_standin.h"

#include <utility>

namespace kestrova::soak {

namespace {

// The link's pause before each frame, taken under portLock; the loop's
// pause between two cycles is longer, and only there does a request go.
constexpr DWORD kLinkPauseMs = 10;
// A job still running this long (virtual) after it began is given up.
constexpr std::uint64_t kJobAllowanceMs = 600000;
constexpr std::uint64_t kCardAllowanceMs = 120000;

std::uint64_t now() { return standin::nowMs(); }

std::string seconds(std::uint64_t ms) {
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

}  // namespace

SoakClient::SoakClient(const tool::SpoolerHost& spooler, const simulator::MachineSimulator& machine, const Rng& rng)
    : desk_(spooler), machine_(machine), rng_(rng) {
    schedule(draw(rng_, 0, 3000), Act::GetInfo);
    schedule(draw(rng_, 20000, 200000), Act::RestoreOutOfTurn);
    schedule(draw(rng_, 5000, 60000), Act::RunControl);
}

void SoakClient::jobStarted(std::size_t job, std::size_t cards, std::optional<std::uint64_t> deleteAfterMs) {
    job_ = job;
    running_ = true;
    deletedAt_.reset();
    jobStart_ = now();
    deadline_ = jobStart_ + kJobAllowanceMs + cards * kCardAllowanceMs;
    if (deleteAfterMs) schedule(*deleteAfterMs, Act::Delete, job);
}

std::optional<std::size_t> SoakClient::jobEnded() {
    running_ = false;
    return deletedAt_;
}

void SoakClient::deleteDuringIntake() {
    ++totals_.deletions["during intake"];
    send("delete_job");
    deletedAt_ = machine_.status().framesReceived;
}

void SoakClient::betweenJobs() {
    const std::uint64_t roll = draw(rng_, 1, 10);
    if (roll <= 2) {
        send("get_info");
    } else if (roll == 3) {
        ++totals_.otherRestores;
        send("restore");
    }
}

tool::ResultValues SoakClient::finish() {
    if (continuesOwed_ > 0) send("continue");
    return send("get_info");
}

void SoakClient::pause(DWORD ms) {
    if (ms <= kLinkPauseMs) return;
    // Every request due by now goes before the pause lets time pass.
    while (!events_.empty() && events_.top().due <= now()) {
        const Event event = events_.top();
        events_.pop();
        perform(event);
    }
    if (running_ && !deletedAt_ && now() >= deadline_) {
        problem("the job has not ended within " + seconds(deadline_ - jobStart_) +
                " of virtual time; the soak deletes it");
        deleteJob();
    }
}

void SoakClient::schedule(std::uint64_t afterMs, Act act, std::size_t job) {
    events_.push(Event{now() + afterMs, scheduled_++, act, job});
}

void SoakClient::perform(const Event& event) {
    switch (event.act) {
        case Act::GetInfo: {
            const std::int32_t hw = send("get_info").hwErrorCode.value_or(0);
            if (hw != 0 && !halted_) ++totals_.halts[hw];
            halted_ = hw != 0;
            // As an operator would: a while after noticing the halt.
            if (hw != 0 && !restoreDue_) {
                restoreDue_ = true;
                schedule(draw(rng_, 50, 5000), Act::Restore);
            }
            schedule(draw(rng_, 200, 3000), Act::GetInfo);
            break;
        }
        case Act::Restore:
            restoreDue_ = false;
            halted_ = false;
            ++totals_.operatorRestores;
            send("restore");
            break;
        case Act::RestoreOutOfTurn:
            ++totals_.otherRestores;
            send("restore");
            schedule(draw(rng_, 20000, 200000), Act::RestoreOutOfTurn);
            break;
        case Act::RunControl: {
            const std::uint64_t roll = draw(rng_, 1, 100);
            const char* command = roll <= 45 ? "pause" : roll <= 80 ? "step" : "continue";
            send(command);
            // A paused machine holds production until it is continued.
            if (roll <= 80) {
                ++continuesOwed_;
                schedule(draw(rng_, 100, 4000), Act::Continue);
            }
            schedule(draw(rng_, 5000, 60000), Act::RunControl);
            break;
        }
        case Act::Continue:
            --continuesOwed_;
            send("continue");
            break;
        case Act::Delete:
            if (running_ && event.job == job_ && !deletedAt_) deleteJob();
            break;
    }
}

void SoakClient::deleteJob() {
    // Where the machine was: deletions should come at every step of a card.
    static constexpr const char* kStages[] = {"card feeding", "card staged", "card loaded", "card personalised"};
    const auto card = machine_.currentCard();
    const simulator::MachineStatus status = machine_.status();
    std::string moment = card ? kStages[static_cast<int>(card->stage)] : "no card";
    if (status.operation != 0) moment += std::string(", ") + simulator::commandName(status.operation) + " running";
    ++totals_.deletions[moment];
    send("delete_job");
    // delete_job makes no exchange: the frames so far are those before it.
    deletedAt_ = machine_.status().framesReceived;
}

tool::ResultValues SoakClient::send(const std::string& command) {
    ++totals_.requests[command];
    std::string wrong;
    tool::ResultValues values = desk_.ask(command, wrong);
    if (!wrong.empty()) problem(wrong);
    return values;
}

void SoakClient::problem(const std::string& what) {
    totals_.problems.push_back(simulator::AuditFinding{job_, 0, what + " (at " + seconds(now()) + ")"});
}

}  // namespace kestrova::soak
