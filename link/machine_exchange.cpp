#include "monitor/monitor_port.h"

namespace kestrova {

std::int32_t MonitorPort::machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode,
                                          Bytes& replyPayload) {
    replyCode = 0;
    replyPayload.clear();
    LinkReply reply;
    return link.exchange(command, payload, reply);
}

}  // namespace kestrova
