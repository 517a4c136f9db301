#include "ui/link_taps.h"

#include <QDateTime>

namespace quillon {

LinkTaps::LinkTaps(Clock& clock) : log_(QDateTime::currentDateTime()), files_(clock.NowMicros())
{
    files_.SetRowListener([this](const TraceRow& row) { log_.Add(row); });
}

LinkTaps::~LinkTaps()
{
    if (host_ != nullptr) {
        host_->RemoveListener(listener_);
    }
}

void LinkTaps::Attach(PanelHost& host)
{
    host_ = &host;
    listener_ = host.AddListener([this](const LinkEvent& event) { OnLinkEvent(event); });
}

} // namespace quillon
