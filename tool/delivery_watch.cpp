#include "tool/delivery_watch.h"

#include "link/machine_command.h"

namespace kestrova::tool {

namespace {

constexpr std::uint8_t kCompletionSuccess = '0';

bool sameFrame(const LinkFrame& a, const LinkFrame& b) {
    return a.sequence == b.sequence && a.command == b.command && a.answeredCommand == b.answeredCommand &&
           a.rejectCode == b.rejectCode && a.completionCode == b.completionCode && a.payload == b.payload;
}

}  // namespace

void DeliveryWatch::read(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    for (std::size_t i = 0; i < size; ++i) {
        if (!hunter_.push(data[i], frame_)) continue;
        if (hasLast_ && sameFrame(frame_, last_)) continue;
        last_ = frame_;
        hasLast_ = true;
        onFrame(frame_);
    }
}

DeliveryWatch::Counts DeliveryWatch::counts() const {
    std::lock_guard<std::mutex> guard(lock_);
    return counts_;
}

// The machine's rule: a card whose personalisation was reported goes to the
// exit, whether an Eject or a Restore sends it there; a spoiled one to the
// reject bin.
void DeliveryWatch::cardOut() {
    if (!inside_) return;
    if (!insideSpoiled_) ++counts_.delivered;
    inside_ = false;
    insideSpoiled_ = false;
}

void DeliveryWatch::onFrame(const LinkFrame& frame) {
    if (frame.command == reply::ACK) {
        if (frame.answeredCommand == command::PreLoad) counts_.cardInside = true;
        if (frame.answeredCommand == command::Restore) {
            cardOut();
            counts_.cardInside = false;
        }
        return;
    }
    if (isFixedReply(frame.command)) return;
    switch (frame.answeredCommand) {
        case command::Personalize:
            // A card reported before this one has left, whether or not its way out was seen.
            cardOut();
            inside_ = true;
            insideSpoiled_ = frame.completionCode != kCompletionSuccess;
            ++(insideSpoiled_ ? counts_.spoiled : counts_.personalised);
            break;
        case command::Eject:
            if (frame.completionCode == kCompletionSuccess) {
                cardOut();
                counts_.cardInside = false;
            }
            break;
        case command::Restore:
            cardOut();
            counts_.cardInside = false;
            break;
        default: break;
    }
}

}  // namespace kestrova::tool
