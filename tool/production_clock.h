// Keeps kestrova print's times and its restore delay on one clock, the
// platform clock (the virtual one with --fast).
//
// On the virtual clock a halted production loop only pauses, and its pauses
// cost no real time: hours of virtual time would go by before the tool, which
// looks in real time, saw the halt. So the clock is kept on a leash: it may
// run at most `slack` ms past production's last read from the machine, or
// past the moment the tool last let it go. A production that stops exchanging
// frames (it is halted) waits at that point, in real time, until the tool has
// looked. A restore after MS ms then comes after MS ms of virtual time, and a
// halt that waits for a restore from elsewhere passes at the real clock's pace.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kestrova::tool {

class ProductionClock {
public:
    // Pauses of production shorter than this never wait at the leash when
    // production exchanges frames: the loop's cycle is 90 + 10 ms.
    static constexpr std::uint64_t kLeastSlackMs = 100;

    // `leashed`: keep the virtual clock on the leash (false on the real clock).
    ProductionClock(bool leashed, std::uint64_t slackMs);
    ~ProductionClock();
    ProductionClock(const ProductionClock&) = delete;
    ProductionClock& operator=(const ProductionClock&) = delete;

    // On the production thread, before EndDocPort.
    void enterProduction();
    // After every read from the machine, on any thread; production's move the leash on.
    void onRead();
    // Platform time of production's last read from the machine (0 before it).
    std::uint64_t lastProductionReadMs() const { return lastProductionReadMs_; }

    // Production waits at the leash.
    bool waiting() const;
    // Lets the clock run to `ms`.
    void runTo(std::uint64_t ms);
    // Lets the clock run `slack` past now: production goes on.
    void letGo();
    // Time the tool's own requests spent on the clock (their exchanges pause
    // and read too) was not production's: the leash is `slack` plus that time
    // since production's last read, so that production never waits at it
    // half-way through a cycle, holding the port the next request needs.
    void allowFor(std::uint64_t ms);
    // No leash any more.
    void unleash();
    bool leashed() const { return leashed_; }

private:
    std::atomic<bool> leashed_;
    std::uint64_t slackMs_;
    std::atomic<std::uint64_t> lastProductionReadMs_{0};
    // The leash is read and moved from two threads; no move may undo another.
    std::mutex moving_;
    std::uint64_t toolMsSinceRead_ = 0;
};

}  // namespace kestrova::tool
