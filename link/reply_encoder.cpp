#include "link/reply_encoder.h"

#include "link/machine_command.h"

namespace kestrova {

Bytes encodeEot(const MachineAddress& address, std::uint8_t sequence) {
    return encodeWithFixedBytes(address, sequence, reply::EOT, {}, {});
}

Bytes encodeEnq(const MachineAddress& address, std::uint8_t sequence) {
    return encodeWithFixedBytes(address, sequence, reply::ENQ, {}, {});
}

Bytes encodeAck(const MachineAddress& address, std::uint8_t sequence, std::uint8_t letter) {
    return encodeWithFixedBytes(address, sequence, reply::ACK, {letter}, {});
}

Bytes encodeNak(const MachineAddress& address, std::uint8_t sequence, std::uint8_t letter, std::uint8_t rejectCode) {
    return encodeWithFixedBytes(address, sequence, reply::NAK, {letter, rejectCode}, {});
}

Bytes encodeData(const MachineAddress& address, std::uint8_t sequence, std::uint8_t letter,
                 std::uint8_t completionCode, const Bytes& payload) {
    return encodeWithFixedBytes(address, sequence, letter, {completionCode}, payload);
}

}  // namespace kestrova
