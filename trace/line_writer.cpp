#include "trace/line_writer.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace quillon {

LineWriter::~LineWriter()
{
    Close();
}

bool LineWriter::Open(const std::string& path, std::string& error)
{
    Close();
    if (path == "-") {
        file_ = stdout;
        ownsFile_ = false;
    } else {
        // Binary: lines end in a line feed alone on every system, as the
        // readers of these files expect.
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        ownsFile_ = true;
    }
    closing_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void LineWriter::Write(std::string line)
{
    {
        const std::lock_guard lock(mutex_);
        if (file_ == nullptr) {
            return;
        }
        if (queue_.size() >= kQueueLimit) {
            ++lost_;
            return;
        }
        queue_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void LineWriter::Close()
{
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (ownsFile_) {
        std::fclose(file_);
    } else {
        std::fflush(file_);
    }
    const std::lock_guard lock(mutex_);
    file_ = nullptr;
}

void LineWriter::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty() && closing_) {
            return;
        }
        std::deque<std::string> batch;
        batch.swap(queue_);
        std::string lostLine;
        if (lost_ != lostReported_) {
            lostLine = lostLine_(lost_ - lostReported_) + "\n";
            lostReported_ = lost_;
        }
        lock.unlock();
        std::fputs(lostLine.c_str(), file_);
        for (const std::string& line : batch) {
            std::fputs(line.c_str(), file_);
            std::fputc('\n', file_);
        }
        std::fflush(file_);
        lock.lock();
    }
}

} // namespace quillon
