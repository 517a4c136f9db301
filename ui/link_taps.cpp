#include "ui/link_taps.h"

#include <QDateTime>

namespace quillon {

LinkTaps::LinkTaps(Clock& clock)
    : startUs_(clock.NowMicros()), log_(QDateTime::currentDateTime()),
      builder_(startUs_, [this](const TraceRow& row) { Take(row); })
{
    observers_.Add(&builder_);
}

LinkTaps::~LinkTaps()
{
    if (engine_ != nullptr) {
        engine_->SetObserver(nullptr);
    }
}

bool LinkTaps::OpenTrace(const std::string& path, TraceFormat format, std::string& error)
{
    if (!trace_.Open(path, error)) {
        return false;
    }
    traceFormat_ = format;
    tracing_ = true;
    if (format == TraceFormat::JsonLines) {
        // Every line of the file stays a JSON object, this one included.
        trace_.SetLostLine([](std::uint64_t count) {
            return "{\"kind\":\"note\",\"meaning\":\"trace lines lost\",\"error\":" +
                   JsonString(std::to_string(count) + " lines lost: the writer fell behind") + "}";
        });
    }
    return true;
}

bool LinkTaps::OpenRecording(const std::string& path, std::string& error)
{
    if (!recording_.Open(path, error)) {
        return false;
    }
    recorder_.emplace(recording_, startUs_);
    observers_.Add(&*recorder_);
    return true;
}

void LinkTaps::Attach(PanelEngine& engine)
{
    engine_ = &engine;
    engine.SetObserver(&observers_);
}

void LinkTaps::Take(const TraceRow& row)
{
    log_.Add(row);
    if (tracing_) {
        trace_.Write(traceFormat_ == TraceFormat::JsonLines ? FormatJsonRow(row) : FormatTextRow(row));
    }
}

} // namespace quillon
