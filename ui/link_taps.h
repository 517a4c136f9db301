#pragma once

#include <string>

#include "host/line_files.h"
#include "host/panel_host.h"
#include "ui/monitor_log.h"

namespace quillon {

// Everything in the desktop program that listens to the link: the protocol
// monitor's rows, kept from the start whether its window is open or not (the
// frame that explains a fault has usually gone by when the window is
// opened), the trace file and the recording. All of them count time from
// the moment the taps are made.
class LinkTaps final : public LinkObserver {
public:
    explicit LinkTaps(Clock& clock);
    // Lets go of the host and writes out the trace and the recording.
    ~LinkTaps() override;
    LinkTaps(const LinkTaps&) = delete;
    LinkTaps& operator=(const LinkTaps&) = delete;

    // Each is false, with the reason in error, when the file cannot be
    // written; "-" is standard output.
    bool OpenTrace(const std::string& path, TraceFormat format, std::string& error)
    {
        return files_.OpenTrace(path, format, error);
    }
    bool OpenRecording(const std::string& path, std::string& error) { return files_.OpenRecording(path, error); }
    // Starts listening; the host must outlive the taps.
    void Attach(PanelHost& host);
    void OnLinkEvent(const LinkEvent& event) override { files_.Take(event); }

    MonitorLog& log() { return log_; }

private:
    MonitorLog log_;
    LineFiles files_;
    PanelHost* host_ = nullptr;
    int listener_ = 0;
};

} // namespace quillon
