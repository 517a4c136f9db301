#include "tests/demo/panel_pictures.h"

#include <gtest/gtest.h>

namespace quillon::testing {

std::uint8_t StatusOf(const Bytes& reply)
{
    if (reply.empty()) {
        ADD_FAILURE() << "the panel did not reply";
        return 0xFF;
    }
    return reply.size() == 1 ? reply[0] : reply[2];
}

std::vector<std::uint8_t> SendFrames(EngineFixture& panel, const std::vector<demo::Frame>& frames)
{
    std::vector<std::uint8_t> statuses;
    for (const demo::Block& block : demo::PackBlocks(frames)) {
        statuses.push_back(StatusOf(panel.Exchange(block)));
    }
    return statuses;
}

void FillDisplay(EngineFixture& panel, std::uint8_t columnByte)
{
    for (std::uint8_t page = 0; page < kDisplayPages; ++page) {
        // The one-byte pattern 128 times: the whole page.
        const std::uint8_t repeats = kDisplayColumns - 1;
        const Bytes reply = panel.Exchange(Frame(kDrawAndRepeat, {0, page, repeats, columnByte}));
        EXPECT_EQ(StatusOf(reply) & kStatusErrorMask, 0) << "page " << int{page};
    }
}

Pages PictureOf(const demo::DemoModel& model)
{
    EngineFixture panel;
    SendFrames(panel, demo::DrawScreen(model));
    return PagesOf(panel.display());
}

bool LineIsInverse(const Pages& pages, int page)
{
    // Menu lines start at column 1; a cell is five glyph columns and a gap.
    return pages[page][6] == 0xFF;
}

demo::DemoModel MenuAt(int index)
{
    demo::DemoModel model;
    model.menuIndex = index;
    return model;
}

demo::DemoModel ScreenOf(demo::Screen screen, int menuIndex)
{
    demo::DemoModel model = MenuAt(menuIndex);
    model.screen = screen;
    return model;
}

} // namespace quillon::testing
