// One whole exchange over a software port monitor whose far end answers any
// frame with the fuzz bytes (after the first, which picks the command), then
// falls silent. The exchange must end (a frame or a read failure, never a
// write failure) and its reply must be what decoding the bytes read gives.
#include "link/frame_receiver.h"
#include "link/link_frame.h"
#include "link/link_session.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

class FuzzPeer : public kestrova::standin::PortPeer {
public:
    FuzzPeer(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    long onWrite(const std::uint8_t*, std::size_t size) override { return static_cast<long>(size); }

    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS&) override {
        std::size_t count = 0;
        while (count < size && read_ < size_) buffer[count++] = data_[read_++];
        return static_cast<long>(count);
    }

    std::size_t read() const { return read_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t read_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova;
    if (size == 0) return 0;
    static const bool virtualClock = [] {
        standin::setClockMode(standin::ClockMode::Virtual);
        return true;
    }();
    (void)virtualClock;

    standin::SoftwarePortMonitor spm;
    FuzzPeer peer(data + 1, size - 1);
    spm.setPeer(&peer);
    spm.setRecordCalls(false);
    const MONITOR2* table = spm.table();
    WideString portName(u"LPT1:");
    HANDLE portHandle = nullptr;
    if (table->pfnOpenPort(spm.monitorHandle(), portName.data(), &portHandle) != TRUE) std::abort();

    LinkSession session(table, portHandle);
    const Bytes payload{'0', '1'};
    LinkReply reply;
    const ExchangeOutcome result = session.exchange(data[0], payload, reply);
    if (result == ExchangeOutcome()) {
        LinkFrame expected;
        if (decode(data + 1, peer.read(), expected) != decode_result::Frame) std::abort();
        if (reply.replyCode != expected.command || reply.replyPayload != expected.payload ||
            reply.answeredCommand != expected.answeredCommand || reply.rejectCode != expected.rejectCode ||
            reply.completionCode != expected.completionCode) {
            std::abort();
        }
    } else if (result == ExchangeOutcome::Kind::NoReply) {
        // Silence or a receiver filled without a frame.
        if (peer.read() != size - 1 && peer.read() < FrameReceiver::kCapacity) std::abort();
    } else {
        std::abort();
    }
    table->pfnClosePort(portHandle);
    spm.setPeer(nullptr);
    return 0;
}
