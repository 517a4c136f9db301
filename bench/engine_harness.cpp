#include "bench/engine_harness.h"

#include <algorithm>

#include "link/frame.h"

namespace quillon::bench {

void PageView::DrawColumnRun(const DrawRequest& request)
{
    // The engine clips every run to the display before it gets here.
    std::copy_n(request.bytes.begin(), request.length, pages_[request.topRow / 8].begin() + request.startColumn);
}

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

void RunBlock(CPanelLink& link, StreamPort& port, const Bytes& block)
{
    port.Load(block);
    while (link.ReceivePass() == ReceiveResult::ByteHandled) {
    }
    link.LinkTick();
}

BenchEngine::BenchEngine() : link(state, view, port, clock)
{
    state.linkEnabled = 1;
}

std::uint64_t RunsPerBlock(const Bytes& block)
{
    BenchEngine engine;
    RunBlock(engine.link, engine.port, block);
    return engine.view.repaints;
}

} // namespace quillon::bench
