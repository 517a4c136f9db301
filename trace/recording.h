#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_events.h"
#include "trace/line_writer.h"

// Recordings: everything the device sent, with times, so a display fault
// seen once can be played into the panel again without the device.
//
// The file is text:
//
//   quillon-recording 1
//   # comment lines start with '#'
//   0 81 03 00 00 41 C6
//   10417 85 01 00 87
//
// The first line names the format and its version. Every other line that is
// not empty or a comment holds the microseconds since the recording began
// (never less than on the line before) and one or more bytes in hex, each
// after one space. Every line ends with a line feed; a last line without one
// was cut short.
//
// The comment "# reply" marks where the panel answered: the bytes after it
// were sent once the device had that answer. A reader that ignores it still
// plays every byte at its time; the replay port also waits for the replayed
// panel's own answer there, so a device that answers at once is never ahead
// of the panel.
namespace quillon {

inline constexpr std::string_view kRecordingMagic = "quillon-recording";
inline constexpr int kRecordingVersion = 1;
inline constexpr std::string_view kReplyMark = "# reply";

struct RecordedChunk {
    std::uint64_t timeUs = 0;
    std::vector<std::uint8_t> bytes;
    // The panel answered between the bytes before this chunk and these.
    bool afterReply = false;
};

struct RecordingProblem {
    // Byte offset in the file where the problem starts.
    std::size_t offset = 0;
    std::string message;
};

struct Recording {
    // The chunks before the first problem: nothing past it is played.
    std::vector<RecordedChunk> chunks;
    std::optional<RecordingProblem> problem;
};

Recording ParseRecording(std::string_view text);
Recording ReadRecordingFile(const std::string& path);
// "recording.txt: byte 57: unknown version 2"
std::string DescribeProblem(const std::string& path, const RecordingProblem& problem);

// Writes what the device sends into a recording as it arrives. Bytes that
// follow each other closely share a line.
class Recorder final : public LinkObserver {
public:
    // startUs is the engine clock's microseconds when recording begins.
    Recorder(LineWriter& out, std::uint64_t startUs);
    ~Recorder() override;
    void OnLinkEvent(const LinkEvent& event) override;
    // Writes the line being gathered.
    void Flush();

private:
    LineWriter& out_;
    std::uint64_t startUs_;
    std::string line_;
    std::size_t lineBytes_ = 0;
    std::uint64_t lastUs_ = 0;
    // The block of the last byte: the receiver counts a block on after each
    // answer, before the device can have answered it.
    std::uint32_t lastBlock_ = 0;
};

} // namespace quillon
