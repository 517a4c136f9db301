#include "host/line_files.h"

#include <utility>

namespace quillon {

LineFiles::LineFiles(std::uint64_t startUs)
    : startUs_(startUs), builder_(startUs_, [this](const TraceRow& row) { TakeRow(row); })
{
}

LineFiles::~LineFiles()
{
    Close();
}

bool LineFiles::OpenTrace(const std::string& path, TraceFormat format, std::string& error)
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
    BuildRows();
    return true;
}

bool LineFiles::OpenRecording(const std::string& path, std::string& error)
{
    if (!recording_.Open(path, error)) {
        return false;
    }
    recorder_.emplace(recording_, startUs_);
    observers_.Add(&*recorder_);
    return true;
}

void LineFiles::SetRowListener(std::function<void(const TraceRow&)> listener)
{
    rowListener_ = std::move(listener);
    BuildRows();
}

void LineFiles::BuildRows()
{
    if (!std::exchange(rows_, true)) {
        observers_.Add(&builder_);
    }
}

void LineFiles::Close()
{
    if (recorder_) {
        observers_.Remove(&*recorder_);
        recorder_.reset();
    }
    recording_.Close();
    trace_.Close();
}

void LineFiles::TakeRow(const TraceRow& row)
{
    if (rowListener_) {
        rowListener_(row);
    }
    if (tracing_) {
        trace_.Write(traceFormat_ == TraceFormat::JsonLines ? FormatJsonRow(row) : FormatTextRow(row));
    }
}

} // namespace quillon
