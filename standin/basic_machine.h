// What every machine double answers to a poll, whatever it does with cards:
// one operation at a time, started when its command is acknowledged and
// completed by the data reply that answers the first poll after it has
// finished. Until then a poll answers EOT (busy); with nothing running, ENQ
// (ready). When an operation has finished, and what its completion does,
// are the owner's to say: the simulator runs a machine on its clock, the
// scripted machine plays a script.
//
// `Operation` carries at least `letter` and `completionCode`.
#pragma once

#include "link/bytes.h"
#include "link/request_frame.h"

#include <optional>
#include <utility>

namespace kestrova::standin {

template <typename Operation>
class BasicMachine {
public:
    // One runs at a time: a newly started operation replaces any other.
    void start(Operation operation) { running_ = std::move(operation); }
    void abort() { running_.reset(); }
    Operation* running() { return running_ ? &*running_ : nullptr; }
    const Operation* running() const { return running_ ? &*running_ : nullptr; }

    // The answer to `request`, a poll. `finished(operation)` tells whether
    // the operation running has finished; once it has, it ends and
    // `completed(operation)` is told before its reply goes out.
    template <typename Finished, typename Completed>
    Bytes poll(const RequestFrame& request, Finished&& finished, Completed&& completed) {
        if (!running_) return request.enq();
        if (!finished(*running_)) return request.eot();
        const Operation done = std::move(*running_);
        running_.reset();
        completed(done);
        return request.data(done.letter, done.completionCode);
    }

private:
    std::optional<Operation> running_;
};

}  // namespace kestrova::standin
