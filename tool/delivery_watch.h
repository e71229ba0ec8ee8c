// The cards a machine delivered, as the link saw it: the replies read from
// the machine, whichever thread read them. The tool counts these where the
// machine is not in this process, since the module's own count says nothing
// left to produce both when the job is finished and when it was deleted.
#pragma once

#include "link/frame_hunter.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace kestrova::tool {

class DeliveryWatch {
public:
    // Bytes read from the machine, in the order read.
    void read(const std::uint8_t* data, std::size_t size);

    struct Counts {
        std::size_t personalised = 0;  // personalisations reported complete without error
        std::size_t spoiled = 0;       // reported complete with an error
        std::size_t delivered = 0;     // personalised cards sent to the exit
        // PreLoad took a card in, and neither an Eject nor a Restore has sent it out.
        bool cardInside = false;
    };
    Counts counts() const;

private:
    void onFrame(const LinkFrame& frame);
    void cardOut();

    mutable std::mutex lock_;
    FrameHunter hunter_;
    LinkFrame frame_;
    LinkFrame last_;  // a reply sent twice counts once
    bool hasLast_ = false;
    bool inside_ = false;         // a card whose personalisation was reported is in the machine
    bool insideSpoiled_ = false;  // ... and it completed with an error
    Counts counts_;
};

}  // namespace kestrova::tool
