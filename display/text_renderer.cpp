#include "link/panel_link.h"

namespace quillon {

void CPanelLink::PrepareText(TextSource)
{
}

void CPanelLink::RenderText()
{
}

std::uint8_t CPanelLink::StretchGlyphColumn(std::uint8_t, std::uint8_t, std::uint8_t)
{
    return 0;
}

void CPanelLink::PutString(const char*, std::uint8_t, std::uint8_t, bool)
{
}

void CPanelLink::WriteFrameHeader()
{
}

void CPanelLink::CopyTextFromFrame(std::uint8_t, std::uint8_t)
{
}

} // namespace quillon
