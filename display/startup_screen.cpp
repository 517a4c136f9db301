#include "display/display_controller.h"
#include "display/glyph_tables.h"

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

std::uint8_t DisplayController::ShowStartupScreen()
{
    BeginOperation();
    DrawStartupScreen();
    return errors_;
}

void DisplayController::DrawStartupScreen()
{
    for (std::size_t strip = 0; strip < kLogoPages; ++strip) {
        WriteColumnRun(static_cast<std::uint8_t>(kLogoFirstPage + strip), kLogoColumn, LogoStrip(strip));
    }
    DrawProgramText(kVersionLabel, kStartupTextAttribute, kVersionColumn);
    DrawProgramText(kConnecting, kStartupTextAttribute, kConnectingColumn);
}

} // namespace quillon
