#include "link/exchange_outcome.h"

#include "link/machine_state.h"

namespace kestrova {

std::int32_t errorCode(ExchangeOutcome outcome) {
    switch (outcome.kind()) {
        case ExchangeOutcome::Kind::Done: return code::Success;
        case ExchangeOutcome::Kind::WriteFailed: return code::WriteFailed;
        case ExchangeOutcome::Kind::NoReply: return code::NoReply;
        case ExchangeOutcome::Kind::UnexpectedReply: return code::UnexpectedReply;
        case ExchangeOutcome::Kind::ReadyWhileBusy: return code::ReadyWhileBusy;
        case ExchangeOutcome::Kind::CardWithoutItems: return code::CardWithoutItems;
        case ExchangeOutcome::Kind::Rejected: return code::RejectBase + outcome.machineCode();
        case ExchangeOutcome::Kind::CompletedWithError: return outcome.machineCode();
    }
    return code::UnexpectedReply;
}

}  // namespace kestrova
