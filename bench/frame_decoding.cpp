// Decoding cost per received byte: the session hands every byte of a reply to
// the frame receiver, so the cost per byte must not grow with the reply.
// Compare ns/byte of the short and the 4 KiB reply. For scale, the same
// worst-case input also goes through whole-buffer re-decoding after every byte.
#include "link/frame_receiver.h"
#include "link/link_frame.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

namespace {

using kestrova::Bytes;

// A data reply "w" with completion "0" and `size` payload bytes, one in 64
// of them needing an escape, as module information text might.
Bytes dataReply(std::size_t size) {
    kestrova::LinkFrame frame;
    frame.address = {'Z', '9', 'Q', 'Q'};
    frame.sequence = 0x20;
    frame.command = 'w';
    frame.payload.push_back('0');
    for (std::size_t i = 0; i < size; ++i) {
        frame.payload.push_back(i % 64 == 63 ? std::uint8_t{0x02} : static_cast<std::uint8_t>('A' + i % 26));
    }
    return kestrova::encode(frame);
}

void perByte(benchmark::State& state, std::size_t bytes) {
    state.counters["bytes"] = static_cast<double>(bytes);
    // The inverted byte rate: seconds per byte.
    state.counters["per_byte"] = benchmark::Counter(static_cast<double>(bytes),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

void receive(benchmark::State& state, const Bytes& wire) {
    kestrova::LinkFrame frame;
    for (auto _ : state) {
        (void)_;
        kestrova::FrameReceiver receiver;
        int result = -1;
        for (std::uint8_t byte : wire) {
            result = receiver.push(byte);
            if (result == 0) break;
        }
        if (result == 0) receiver.complete(frame);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(frame.payload.data());
    }
    perByte(state, wire.size());
}

void BM_ReceiveShortReply(benchmark::State& state) { receive(state, dataReply(6)); }  // 16 bytes on the wire
void BM_ReceiveLargeReply(benchmark::State& state) { receive(state, dataReply(4096)); }

// A peer babbling ETX bytes that never make a frame puts an ETX in the
// second-to-last place after almost every byte: the worst case for decoding
// the whole buffer each time.
const Bytes& babble() {
    static const Bytes bytes = [] {
        Bytes out;
        kestrova::FrameReceiver receiver;
        while (out.size() < 4096) {
            kestrova::FrameReceiver trial = receiver;
            const std::uint8_t next = trial.push(kestrova::frame_byte::ETX) == 0 ? 0x00 : kestrova::frame_byte::ETX;
            receiver.push(next);
            out.push_back(next);
        }
        return out;
    }();
    return bytes;
}

void BM_ReceiveEtxBabble(benchmark::State& state) { receive(state, babble()); }

void BM_RedecodeEveryByteEtxBabble(benchmark::State& state) {
    kestrova::LinkFrame frame;
    for (auto _ : state) {
        (void)_;
        int result = -1;
        for (std::size_t n = 1; n <= babble().size() && result != 0; ++n) {
            result = kestrova::decode(babble().data(), n, frame);
        }
        benchmark::DoNotOptimize(result);
    }
    perByte(state, babble().size());
}

}  // namespace

BENCHMARK(BM_ReceiveShortReply);
BENCHMARK(BM_ReceiveLargeReply);
BENCHMARK(BM_ReceiveEtxBabble);
BENCHMARK(BM_RedecodeEveryByteEtxBabble);

BENCHMARK_MAIN();
