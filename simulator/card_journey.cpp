#include "simulator/card_journey.h"

namespace kestrova::simulator {

const char* cardEndName(CardEnd end) {
    switch (end) {
        case CardEnd::Inside: return "still in the machine";
        case CardEnd::Delivered: return "delivered";
        case CardEnd::Rejected: return "rejected";
    }
    return "";
}

}  // namespace kestrova::simulator
