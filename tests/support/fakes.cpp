#include "tests/support/fakes.h"

namespace quillon::testing {

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
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        writes_.emplace_back(data, data + length);
        hook = std::move(onNextWrite_);
        onNextWrite_ = nullptr;
    }
    written_.notify_all();
    if (hook) {
        hook();
    }
    return !writeFails;
}

void QueuePort::WaitForInput(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    inputArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !input_.empty(); });
}

void QueuePort::Feed(const Bytes& bytes)
{
    {
        std::lock_guard lock(mutex_);
        input_.insert(input_.end(), bytes.begin(), bytes.end());
    }
    inputArrived_.notify_all();
}

std::vector<Bytes> QueuePort::Writes() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

Bytes QueuePort::TakeWritten()
{
    std::lock_guard lock(mutex_);
    Bytes all;
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

bool QueuePort::WaitForWrites(std::size_t count, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    return written_.wait_for(lock, limit, [&] { return writes_.size() >= count; });
}

void QueuePort::OnNextWrite(std::function<void()> hook)
{
    std::lock_guard lock(mutex_);
    onNextWrite_ = std::move(hook);
}

std::vector<LinkEvent> EventLog::Of(LinkEventKind kind) const
{
    std::vector<LinkEvent> found;
    for (const auto& event : events) {
        if (event.kind == kind) {
            found.push_back(event);
        }
    }
    return found;
}

void RunLog::RunWritten(const DisplayRect& area)
{
    const int page = area.top / kRowsPerPage;
    runs.push_back({{area.left, page, area.width()}, area, Columns(memory_, page, area.left, area.width())});
}

std::vector<RunPlace> RunLog::Places() const
{
    std::vector<RunPlace> places;
    for (const auto& run : runs) {
        places.push_back(run.place);
    }
    return places;
}

Bytes Columns(const DisplayMemory& memory, int page, int first, int count)
{
    const auto& bytes = memory.PageBytes(page);
    return {bytes.begin() + first, bytes.begin() + first + count};
}

Pages PagesOf(const DisplayMemory& memory)
{
    Pages pages{};
    for (int page = 0; page < kDisplayPages; ++page) {
        pages[page] = memory.PageBytes(page);
    }
    return pages;
}

EngineFixture::EngineFixture()
{
    engine.SetLinkEnabled(true);
    engine.SetRunListener(&runs);
}

void EngineFixture::Receive(const Bytes& bytes)
{
    port.Feed(bytes);
    while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
}

Bytes EngineFixture::Exchange(const Bytes& block)
{
    Receive(block);
    engine.Tick();
    return port.TakeWritten();
}

} // namespace quillon::testing
