#include "bench/engine_harness.h"

namespace quillon::bench {

void StreamPort::Load(const Bytes& bytes)
{
    data_ = bytes.data();
    size_ = bytes.size();
    next_ = 0;
}

bool StreamPort::BytesWaiting(std::size_t& count)
{
    count = size_ - next_;
    return true;
}

bool StreamPort::ReadByte(std::uint8_t& byte)
{
    if (next_ == size_) {
        return false;
    }
    byte = data_[next_++];
    return true;
}

bool StreamPort::Write(const std::uint8_t* data, std::size_t length)
{
    ++replies;
    // A framed reply carries the status byte third, the single-byte reply is
    // the status byte alone.
    lastStatus = length >= 3 ? data[2] : data[0];
    return true;
}

void RunBlock(PanelEngine& engine, StreamPort& port, const Bytes& block)
{
    port.Load(block);
    while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    engine.Tick();
}

BenchEngine::BenchEngine()
{
    engine.SetLinkEnabled(true);
}

std::uint64_t RunsPerBlock(const Bytes& block)
{
    BenchEngine bench;
    RunBlock(bench.engine, bench.port, block);
    return bench.engine.display().changeCount();
}

} // namespace quillon::bench
