// Any text as a fault rule, up to the first line feed; the bytes after it
// are the device's. A rule read is written back in at most 47 characters and
// reads back the same; then a fault port with it takes the device's bytes
// and three replies: no more bytes reach the panel than the device sent, no
// more cross the line than a reply has, and nothing crashes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/harness.h"
#include "link/fault_port.h"
#include "link/fault_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quillon;
    using namespace quillon::fuzzing;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t end = std::min(input.find('\n'), input.size());
    std::string error;
    const auto rule = ParseFaultRule(input.substr(0, end), error);
    if (!rule) {
        QUILLON_FUZZ_CHECK(!error.empty());
        return 0;
    }
    const std::string text = FaultRuleText(*rule);
    QUILLON_FUZZ_CHECK(text.size() <= 47);
    const auto again = ParseFaultRule(text, error);
    QUILLON_FUZZ_CHECK(again && FaultRuleText(*again) == text);

    ScriptedPort device;
    StepClock clock(1000);
    FaultPort faults(device, clock);
    faults.SetSeed(size);
    faults.Add(*rule);
    const std::size_t fed = size - std::min(size, end + 1);
    device.Feed({data + size - fed, fed});
    std::size_t taken = 0;
    for (int pass = 0; pass < 4; ++pass) {
        std::size_t waiting = 0;
        while (faults.BytesWaiting(waiting) && waiting > 0) {
            std::uint8_t byte = 0;
            QUILLON_FUZZ_CHECK(faults.ReadByte(byte));
            ++taken;
        }
        const auto reply = ShortStatusFrame(static_cast<std::uint8_t>(pass << 4));
        faults.Write(reply.data(), reply.size());
        clock.now += 30'000;
        faults.SendDue();
    }
    QUILLON_FUZZ_CHECK(taken <= fed);
    for (const Bytes& write : device.writes) {
        QUILLON_FUZZ_CHECK(!write.empty() && write.size() <= 4 * ShortStatusFrame(0).size());
    }
    return 0;
}
