// Reply bytes fed one at a time, as the link session reads them: after every
// byte the receiver must say what decoding the whole buffer says, and the
// record it completes must be the one decode fills. After a frame the rest
// of the input starts the next reply, as the next exchange would.
#include "link/frame_receiver.h"
#include "link/link_frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool sameFrame(const kestrova::LinkFrame& a, const kestrova::LinkFrame& b) {
    return a.address == b.address && a.sequence == b.sequence && a.command == b.command && a.payload == b.payload &&
           a.answeredCommand == b.answeredCommand && a.rejectCode == b.rejectCode &&
           a.completionCode == b.completionCode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova;
    std::size_t start = 0;
    while (start < size) {
        FrameReceiver receiver;
        std::size_t at = start;
        bool framed = false;
        while (at < size && !receiver.full()) {
            const int pushed = receiver.push(data[at]);
            ++at;
            LinkFrame expected;
            const int decoded = decode(data + start, at - start, expected);
            if (pushed != decoded) std::abort();
            if (receiver.size() != at - start) std::abort();
            if (pushed == decode_result::Frame) {
                LinkFrame completed;
                if (receiver.complete(completed) != decode_result::Frame) std::abort();
                if (!sameFrame(completed, expected)) std::abort();
                framed = true;
                break;
            }
            if (pushed != decode_result::TooShort && pushed != decode_result::NoEtx &&
                pushed != decode_result::CheckMismatch) {
                std::abort();
            }
        }
        if (!framed) break;
        start = at;
    }
    return 0;
}
