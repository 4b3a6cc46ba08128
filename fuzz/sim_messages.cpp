// The simulated instrument's message parser and executor: any bytes, cut
// anywhere, with EOI or not, on a stream or a bus, in any order with reads,
// polls, clears and the passing of time. Nothing a controller sends may
// raise, and what the instrument holds stays within its bounds.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <tessel/sim.h>

using namespace tessel::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Config config;
    config.maxBlockLength = 4096;
    config.inputBufferBytes = 8192;
    config.outputBufferBytes = 16384;
    config.messageLogBytes = 4096;
    config.errorQueueCapacity = in.ConsumeIntegralInRange<std::size_t>(0, 12);
    config.operationTime = std::chrono::milliseconds(in.ConsumeIntegralInRange(0, 50));
    const Transport transport = in.ConsumeBool() ? Transport::Bus : Transport::Stream;
    Instrument instrument(config, transport);
    TimePoint now{};

    while (in.remaining_bytes() > 0) {
        now += std::chrono::milliseconds(in.ConsumeIntegralInRange(0, 40));
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0: instrument.TakeOutput(in.ConsumeIntegralInRange<std::size_t>(0, 5000)); break;
        case 1: instrument.Talk(in.ConsumeIntegralInRange<std::size_t>(0, 5000), now); break;
        case 2: instrument.SerialPoll(); break;
        case 3: instrument.DeviceClear(); break;
        case 4: instrument.Update(now); break;
        default: {
            const bool end = in.ConsumeBool();
            instrument.Receive(in.ConsumeRandomLengthString(512), end, now);
        }
        }
        const Snapshot state = instrument.State();
        if (state.inputBytes > config.inputBufferBytes || state.outputBytes > config.outputBufferBytes ||
            state.errors.size() > std::max<std::size_t>(2, config.errorQueueCapacity))
            std::abort();
    }
    return 0;
}
