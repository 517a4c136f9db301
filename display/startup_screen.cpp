#include <algorithm>

#include "display/glyph_tables.h"
#include "link/panel_link.h"

namespace quillon {

namespace {

// The logo fills the middle half of pages 1 to 4.
constexpr std::uint8_t kLogoColumn = 32;
constexpr std::uint8_t kLogoFirstPage = 1;

// Page 6, size 1, no inverse bits: both texts are two pages high at the
// bottom of the display.
constexpr std::uint8_t kStartupTextAttribute = 14;

// The version of the emulated panel, every character with bit 7 set so it is
// drawn as a dark label with the text cut out.
constexpr char kVersionLabel[] = "\xC5\xB1\xAE\xB2\xAE\xB1";
constexpr std::uint8_t kVersionColumn = 0;
constexpr char kConnecting[] = "Connecting...";
constexpr std::uint8_t kConnectingColumn = 42;

} // namespace

void CPanelLink::ShowStartupScreen()
{
    DisplayWork& work = state_.work;
    for (std::size_t strip = 0; strip < kLogoPages; ++strip) {
        const auto logo = LogoStrip(strip);
        std::copy(logo.begin(), logo.end(), work.runBuffer.begin());
        work.runLength = static_cast<std::uint8_t>(kLogoColumns);
        work.runColumn = kLogoColumn;
        work.runPage = static_cast<std::uint8_t>(kLogoFirstPage + strip);
        WriteColumnRun(work.runBuffer.data());
    }
    PutString(kVersionLabel, kStartupTextAttribute, kVersionColumn, false);
    PutString(kConnecting, kStartupTextAttribute, kConnectingColumn, false);
}

} // namespace quillon
