#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/observer_list.h"
#include "link/panel_engine.h"
#include "trace/line_writer.h"
#include "trace/recording.h"
#include "trace/trace_rows.h"
#include "ui/monitor_log.h"

namespace quillon {

enum class TraceFormat { Text, JsonLines };

// Everything in the desktop program that listens to the link: the protocol
// monitor's rows, kept from the start whether its window is open or not (the
// frame that explains a fault has usually gone by when the window is
// opened), the trace file and the recording. All of them count time from
// the moment the taps are made.
class LinkTaps {
public:
    explicit LinkTaps(Clock& clock);
    // Lets go of the engine and writes out the trace and the recording.
    ~LinkTaps();
    LinkTaps(const LinkTaps&) = delete;
    LinkTaps& operator=(const LinkTaps&) = delete;

    // Each is false, with the reason in error, when the file cannot be
    // written; "-" is standard output.
    bool OpenTrace(const std::string& path, TraceFormat format, std::string& error);
    bool OpenRecording(const std::string& path, std::string& error);
    // Starts listening; the engine must outlive the taps.
    void Attach(PanelEngine& engine);

    MonitorLog& log() { return log_; }

private:
    void Take(const TraceRow& row);

    const std::uint64_t startUs_;
    MonitorLog log_;
    LineWriter trace_;
    TraceFormat traceFormat_ = TraceFormat::Text;
    bool tracing_ = false;
    LineWriter recording_;
    // Declared after its writer, so its last line is written before the
    // writer closes.
    std::optional<Recorder> recorder_;
    TraceBuilder builder_;
    ObserverList observers_;
    PanelEngine* engine_ = nullptr;
};

} // namespace quillon
