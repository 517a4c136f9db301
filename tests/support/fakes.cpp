#include "tests/support/fakes.h"

#include <chrono>

#include "link/frame.h"

namespace quillon::testing {

void InMemoryView::DrawColumnRun(const DrawRequest& request)
{
    const int page = request.topRow / 8;
    Run run{request.startColumn, page, {}};
    for (int i = 0; i < request.length; ++i) {
        pages.at(page).at(request.startColumn + i) = request.bytes[i];
        run.bytes.push_back(request.bytes[i]);
    }
    runs.push_back(std::move(run));
}

std::vector<std::uint8_t> InMemoryView::Columns(int page, int first, int count) const
{
    return {pages[page].begin() + first, pages[page].begin() + first + count};
}

void InMemoryView::Fill(std::uint8_t value)
{
    for (auto& page : pages) {
        page.fill(value);
    }
}

bool QueuePort::BytesWaiting(std::size_t& count)
{
    if (queryFails) {
        return false;
    }
    std::lock_guard lock(mutex_);
    count = input_.size();
    return true;
}

bool QueuePort::ReadByte(std::uint8_t& byte)
{
    std::lock_guard lock(mutex_);
    if (input_.empty()) {
        return false;
    }
    const std::uint8_t next = input_.front();
    input_.pop_front();
    if (readFails) {
        return false;
    }
    byte = next;
    return true;
}

bool QueuePort::Write(const std::uint8_t* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    writes_.emplace_back(data, data + length);
    return !writeFails;
}

void QueuePort::WaitForInput(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    inputArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !input_.empty(); });
}

void QueuePort::Feed(const std::vector<std::uint8_t>& bytes)
{
    {
        std::lock_guard lock(mutex_);
        input_.insert(input_.end(), bytes.begin(), bytes.end());
    }
    inputArrived_.notify_all();
}

std::vector<std::vector<std::uint8_t>> QueuePort::Writes() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<std::uint8_t> QueuePort::TakeWritten()
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> all;
    for (const auto& write : writes_) {
        all.insert(all.end(), write.begin(), write.end());
    }
    writes_.clear();
    return all;
}

std::size_t QueuePort::Queued() const
{
    std::lock_guard lock(mutex_);
    return input_.size();
}

EngineFixture::EngineFixture() : link(state, view, port, clock)
{
    state.linkEnabled = 1;
}

void EngineFixture::Receive(const std::vector<std::uint8_t>& bytes)
{
    port.Feed(bytes);
    while (link.ReceivePass() == ReceiveResult::ByteHandled) {
    }
}

std::vector<std::uint8_t> EngineFixture::Frame(std::uint8_t code, const std::vector<std::uint8_t>& data,
                                               bool lastOfBlock)
{
    std::vector<std::uint8_t> frame;
    frame.push_back(static_cast<std::uint8_t>(lastOfBlock ? code | kLastFrameBit : code));
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(FrameChecksum(frame.data(), frame.size()));
    return frame;
}

std::vector<std::uint8_t> EngineFixture::Exchange(const std::vector<std::uint8_t>& block)
{
    Receive(block);
    link.LinkTick();
    return port.TakeWritten();
}

} // namespace quillon::testing
