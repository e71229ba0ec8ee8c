#include "link/link_session.h"

namespace kestrova {

void LinkReply::clear() { *this = LinkReply(); }

COMMTIMEOUTS linkTimeouts() { return COMMTIMEOUTS{MAXDWORD, MAXDWORD, 1500, 0, 1500}; }

MachineAddress defaultMachineAddress() { return MachineAddress{'Z', '9', 'Q', 'Q'}; }

LinkSession::LinkSession(const MONITOR2* monitor, HANDLE handle)
    : portMonitor(monitor), portHandle(handle), timeouts(linkTimeouts()), address(defaultMachineAddress()) {}

std::int32_t LinkSession::exchange(std::uint8_t, const Bytes&, LinkReply& reply) {
    reply.clear();
    return exchange_result::WriteFailed;
}

}  // namespace kestrova
