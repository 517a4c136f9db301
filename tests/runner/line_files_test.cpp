#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/line_files.h"

namespace quillon {
namespace {

constexpr std::size_t kRepliesSent = 2 * LineWriter::kQueueLimit + 2048;

// A trace written into a pipe that nobody reads yet: the writer stalls, its
// queue fills and the rows beyond it are lost; once the pipe is read, the
// file tells how many.
std::vector<std::string> OverflowedTrace(TraceFormat format)
{
    const auto path = std::filesystem::temp_directory_path() / ("quillon-trace-fifo-" + std::to_string(getpid()));
    std::filesystem::remove(path);
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    LineFiles files(0);
    std::string error;
    EXPECT_TRUE(files.OpenTrace(path.string(), format, error)) << error;
    LinkEvent reply;
    reply.kind = LinkEventKind::ReplySent;
    const std::uint8_t status[] = {0x80};
    reply.SetBytes(status);
    for (std::size_t i = 0; i < kRepliesSent; ++i) {
        reply.timeUs = i;
        reply.block = static_cast<std::uint32_t>(i + 1);
        files.Take(reply);
    }
    std::string text;
    std::thread drain([&] {
        fcntl(reader, F_SETFL, 0);
        char chunk[4096];
        for (ssize_t got; (got = read(reader, chunk, sizeof chunk)) > 0;) {
            text.append(chunk, static_cast<std::size_t>(got));
        }
    });
    files.Close();
    drain.join();
    close(reader);
    std::filesystem::remove(path);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(LineFiles, TraceLinesLostToAStalledWriterAreToldInTheFilesOwnFormat)
{
    // The note is its text around the number of lines lost.
    struct Case {
        TraceFormat format;
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {TraceFormat::Text, "# ", " lines lost: the writer fell behind"},
        {TraceFormat::JsonLines, R"({"kind":"note","meaning":"trace lines lost","error":")",
         R"( lines lost: the writer fell behind"})"},
    };
    for (const Case& c : cases) {
        std::size_t rows = 0;
        std::size_t lost = 0;
        for (const std::string& line : OverflowedTrace(c.format)) {
            const std::size_t digits = line.size() - std::min(line.size(), c.before.size() + c.after.size());
            const std::string number = line.substr(std::min(line.size(), c.before.size()), digits);
            if (line.starts_with(c.before) && line.ends_with(c.after) && !number.empty() &&
                std::all_of(number.begin(), number.end(), [](char d) { return d >= '0' && d <= '9'; })) {
                lost += std::stoul(number);
            } else {
                ++rows;
            }
            if (c.format == TraceFormat::JsonLines) {
                EXPECT_TRUE(nlohmann::json::accept(line)) << line;
            }
        }
        EXPECT_GT(lost, 0u);
        EXPECT_EQ(rows + lost, kRepliesSent);
    }
}

} // namespace
} // namespace quillon
