#include "trace/recording.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "trace/frame_decoder.h"

namespace quillon {

namespace {

// Bytes arriving within this of the one before share a line, up to a
// line's worth: at 9600 baud a byte takes about 1042 microseconds, so a
// block sent without pause stays on one line.
constexpr std::uint64_t kSameLineUs = 1500;
constexpr std::size_t kBytesPerLine = 32;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Parses one data line; on failure returns the offset within the line.
std::optional<std::size_t> ParseDataLine(std::string_view line, RecordedChunk& chunk, std::string& message)
{
    const char* begin = line.data();
    const char* end = line.data() + line.size();
    const auto [afterTime, error] = std::from_chars(begin, end, chunk.timeUs);
    if (error != std::errc{} || afterTime == begin) {
        message = "expected the time in microseconds";
        return 0;
    }
    const char* at = afterTime;
    while (at != end) {
        if (*at != ' ' || end - at < 3) {
            message = "expected a space and two hex digits";
            return static_cast<std::size_t>(at - begin);
        }
        const int high = HexDigit(at[1]);
        const int low = HexDigit(at[2]);
        if (high < 0 || low < 0 || (end - at > 3 && at[3] != ' ')) {
            message = "expected two hex digits";
            return static_cast<std::size_t>(at + 1 - begin);
        }
        chunk.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        at += 3;
    }
    if (chunk.bytes.empty()) {
        message = "a line without bytes";
        return static_cast<std::size_t>(afterTime - begin);
    }
    return std::nullopt;
}

} // namespace

Recording ParseRecording(std::string_view text)
{
    Recording recording;
    const auto fail = [&recording](std::size_t offset, std::string message) {
        recording.problem = RecordingProblem{offset, std::move(message)};
        return recording;
    };

    std::size_t offset = 0;
    bool first = true;
    bool afterReply = false;
    std::uint64_t lastUs = 0;
    while (offset < text.size()) {
        const std::size_t newline = text.find('\n', offset);
        if (newline == std::string_view::npos) {
            return fail(offset, "the last line is cut short (no line feed): the file was truncated");
        }
        const std::string_view line = text.substr(offset, newline - offset);
        if (first) {
            const std::string magic(kRecordingMagic);
            if (line.substr(0, magic.size() + 1) != magic + " ") {
                return fail(offset, "not a recording: the first line must be \"" + magic + " " +
                                        std::to_string(kRecordingVersion) + "\"");
            }
            const std::string_view version = line.substr(magic.size() + 1);
            if (version != std::to_string(kRecordingVersion)) {
                return fail(offset + magic.size() + 1, "unknown version " + std::string(version) +
                                                           " (this program reads version " +
                                                           std::to_string(kRecordingVersion) + ")");
            }
            first = false;
        } else if (line == kReplyMark) {
            afterReply = !recording.chunks.empty();
        } else if (!line.empty() && line.front() != '#') {
            RecordedChunk chunk;
            chunk.afterReply = afterReply;
            afterReply = false;
            std::string message;
            if (const auto at = ParseDataLine(line, chunk, message)) {
                return fail(offset + *at, message);
            }
            if (chunk.timeUs < lastUs) {
                return fail(offset, "time goes backwards");
            }
            lastUs = chunk.timeUs;
            recording.chunks.push_back(std::move(chunk));
        }
        offset = newline + 1;
    }
    if (first) {
        return fail(0, "empty file: not a recording");
    }
    return recording;
}

Recording ReadRecordingFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        Recording recording;
        recording.problem = RecordingProblem{0, "cannot be read"};
        return recording;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    return ParseRecording(contents.str());
}

std::string DescribeProblem(const std::string& path, const RecordingProblem& problem)
{
    return path + ": byte " + std::to_string(problem.offset) + ": " + problem.message;
}

Recorder::Recorder(LineWriter& out, std::uint64_t startUs) : out_(out), startUs_(startUs)
{
    out_.Write(std::string(kRecordingMagic) + " " + std::to_string(kRecordingVersion));
    out_.Write("# Bytes the device sent to the panel. Each line: microseconds since the start");
    out_.Write("# of the recording, then the bytes in hex.");
}

Recorder::~Recorder()
{
    Flush();
}

void Recorder::Flush()
{
    if (!line_.empty()) {
        out_.Write(std::move(line_));
        line_.clear();
        lineBytes_ = 0;
    }
}

void Recorder::OnLinkEvent(const LinkEvent& event)
{
    if (event.kind == LinkEventKind::EventsDropped) {
        Flush();
        out_.Write("# " + std::to_string(event.dropped) + " events lost here: bytes may be missing");
        return;
    }
    if (event.kind != LinkEventKind::ByteReceived) {
        return;
    }
    // A byte of a later block comes after an answer. The answer's own event
    // is no guide: it is told once the reply has been written, and a fast
    // device's next byte may be told before it.
    if (lastBlock_ != 0 && event.block != lastBlock_) {
        Flush();
        out_.Write(std::string(kReplyMark));
    }
    lastBlock_ = event.block;
    const std::uint64_t timeUs = event.timeUs >= startUs_ ? event.timeUs - startUs_ : 0;
    if (line_.empty() || timeUs - lastUs_ > kSameLineUs || lineBytes_ == kBytesPerLine) {
        Flush();
        line_ = std::to_string(timeUs);
    }
    const std::uint8_t byte = event.byte;
    line_ += ' ';
    line_ += HexBytes({&byte, 1});
    ++lineBytes_;
    lastUs_ = timeUs;
}

} // namespace quillon
