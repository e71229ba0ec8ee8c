// What one exchange with the machine came to, and the one reading of it as
// the number callers see (hwErrorCode in get_info, sw_error_code).
#pragma once

#include <cstdint>

namespace kestrova {

class ExchangeOutcome {
public:
    enum class Kind : std::uint8_t {
        Done,
        WriteFailed,         // the frame did not go out whole
        NoReply,             // no whole reply within the time-outs
        UnexpectedReply,     // a reply that answers nothing this side sent
        ReadyWhileBusy,      // ready in a state where an operation runs
        CardWithoutItems,    // the card to load has nothing to personalise
        Rejected,            // NAK, with the machine's reject code
        CompletedWithError,  // a data reply, with the machine's completion character
    };

    constexpr ExchangeOutcome() = default;
    // NOLINTNEXTLINE(google-explicit-constructor): a kind without a code reads as itself
    constexpr ExchangeOutcome(Kind kind) : kind_(kind) {}
    static constexpr ExchangeOutcome rejected(std::uint8_t rejectCode) { return {Kind::Rejected, rejectCode}; }
    static constexpr ExchangeOutcome completedWithError(std::uint8_t completion) {
        return {Kind::CompletedWithError, completion};
    }

    constexpr Kind kind() const { return kind_; }
    // The reject code or completion character; 0 for the other kinds.
    constexpr std::uint8_t machineCode() const { return machineCode_; }

    friend constexpr bool operator==(ExchangeOutcome a, ExchangeOutcome b) {
        return a.kind_ == b.kind_ && a.machineCode_ == b.machineCode_;
    }
    friend constexpr bool operator!=(ExchangeOutcome a, ExchangeOutcome b) { return !(a == b); }

private:
    constexpr ExchangeOutcome(Kind kind, std::uint8_t machineCode) : kind_(kind), machineCode_(machineCode) {}
    Kind kind_ = Kind::Done;
    std::uint8_t machineCode_ = 0;
};

// 0, -1 to -5, 0x1500 + the reject code, or the completion character. A
// completion character of 0 reads as 0 too: the machine said nothing worse.
std::int32_t errorCode(ExchangeOutcome outcome);

// Whether the number callers see is 0 (production goes on).
inline bool succeeded(ExchangeOutcome outcome) { return errorCode(outcome) == 0; }

}  // namespace kestrova
