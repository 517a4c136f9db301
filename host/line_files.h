#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/link_events.h"
#include "link/observer_list.h"
#include "trace/line_writer.h"
#include "trace/recording.h"
#include "trace/trace_rows.h"

namespace quillon {

enum class TraceFormat { Text, JsonLines };

// The rows of the link as they happen and the files written from them: the
// trace (readable text or JSON Lines) and the recording that a replay plays
// back. Times count from the moment it is made.
class LineFiles {
public:
    explicit LineFiles(std::uint64_t startUs);
    // Writes out the trace and the recording.
    ~LineFiles();
    LineFiles(const LineFiles&) = delete;
    LineFiles& operator=(const LineFiles&) = delete;

    // Each is false, with the reason in error, when the file cannot be
    // written; "-" is standard output.
    bool OpenTrace(const std::string& path, TraceFormat format, std::string& error);
    bool OpenRecording(const std::string& path, std::string& error);
    // Every row, to whoever else shows them (the protocol monitor).
    void SetRowListener(std::function<void(const TraceRow&)> listener);
    // The link's events, one by one.
    void Take(const LinkEvent& event) { observers_.OnLinkEvent(event); }
    // Something is written or shown: the events are worth taking.
    bool inUse() const { return rows_ || recorder_; }
    // Writes what is gathered and closes the files.
    void Close();
    std::uint64_t startUs() const { return startUs_; }

private:
    void TakeRow(const TraceRow& row);
    // The rows are built once something takes them.
    void BuildRows();

    const std::uint64_t startUs_;
    LineWriter trace_;
    TraceFormat traceFormat_ = TraceFormat::Text;
    bool tracing_ = false;
    LineWriter recording_;
    // Declared after its writer, so its last line is written before the
    // writer closes.
    std::optional<Recorder> recorder_;
    std::function<void(const TraceRow&)> rowListener_;
    TraceBuilder builder_;
    bool rows_ = false;
    ObserverList observers_;
};

} // namespace quillon
