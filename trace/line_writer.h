#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quillon {

// Writes text lines to a file or to standard output on a thread of its own,
// so a slow disk or a reader of the pipe that does not keep up never holds up
// the thread that produces them. Lines beyond what the queue holds are
// counted as lost and the count is written when the queue has room again.
class LineWriter {
public:
    static constexpr std::size_t kQueueLimit = 65536;

    LineWriter() = default;
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Opens path for writing ("-" is standard output) and starts the writer.
    // False, with the reason in error, when the file cannot be written.
    bool Open(const std::string& path, std::string& error);
    void Write(std::string line);
    // Writes out what is queued and closes the file.
    void Close();
    // The line that tells how many lines were lost, in the file's format.
    void SetLostLine(std::function<std::string(std::uint64_t)> format) { lostLine_ = std::move(format); }

private:
    void Run();

    std::function<std::string(std::uint64_t)> lostLine_ = [](std::uint64_t count) {
        return "# " + std::to_string(count) + " lines lost: the writer fell behind";
    };
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    std::uint64_t lost_ = 0;
    std::uint64_t lostReported_ = 0;
    bool closing_ = false;
    std::thread thread_;
};

} // namespace quillon
