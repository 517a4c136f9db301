#include "link/panel_link.h"

namespace quillon {

CPanelLink::CPanelLink(LinkState& state, PanelView& view, PanelPort& port, Clock& clock)
    : lastSyncTick(clock.NowMs()), state_(state), view_(view), port_(port), clock_(clock)
{
}

CPanelLink::~CPanelLink()
{
    StopReceiveThread();
}

} // namespace quillon
