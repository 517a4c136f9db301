#include "link/panel_link.h"

namespace quillon {

void CPanelLink::ShowStartupScreen()
{
}

} // namespace quillon
