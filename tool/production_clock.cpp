#include "tool/production_clock.h"

#include "tool/host_console.h"

#include <algorithm>

namespace kestrova::tool {

namespace {

thread_local bool tProduction = false;

}  // namespace

ProductionClock::ProductionClock(bool leashed, std::uint64_t slackMs)
    : leashed_(leashed), slackMs_(std::max(slackMs, kLeastSlackMs)) {
    if (leashed_) letGo();
}

ProductionClock::~ProductionClock() { unleash(); }

void ProductionClock::enterProduction() {
    tProduction = true;
    if (leashed_) host::holdThisThreadAtClockLimit();
}

void ProductionClock::onRead() {
    if (!tProduction) return;
    const std::uint64_t now = host::platformNowMs();
    lastProductionReadMs_ = now;
    if (!leashed_) return;
    // Only ever further: the tool may have let the clock go beyond.
    const std::lock_guard<std::mutex> guard(moving_);
    toolMsSinceRead_ = 0;
    if (!leashed_) return;
    const auto limit = host::clockLimit();
    if (limit && *limit < now + slackMs_) host::setClockLimit(now + slackMs_);
}

bool ProductionClock::waiting() const { return leashed_ && host::waitingAtClockLimit(); }

void ProductionClock::runTo(std::uint64_t ms) {
    const std::lock_guard<std::mutex> guard(moving_);
    if (leashed_) host::setClockLimit(ms);
}

void ProductionClock::allowFor(std::uint64_t ms) {
    const std::lock_guard<std::mutex> guard(moving_);
    if (!leashed_ || ms == 0) return;
    toolMsSinceRead_ += ms;
    // Never further than that: a limit moved on by every request would let a
    // halt run past its restore time.
    const std::uint64_t allowed = lastProductionReadMs_ + slackMs_ + toolMsSinceRead_;
    const auto limit = host::clockLimit();
    if (limit && *limit < allowed) host::setClockLimit(allowed);
}

void ProductionClock::letGo() { runTo(host::platformNowMs() + slackMs_); }

void ProductionClock::unleash() {
    if (!leashed_) return;
    const std::lock_guard<std::mutex> guard(moving_);
    leashed_ = false;
    host::setClockLimit(std::nullopt);
}

}  // namespace kestrova::tool
