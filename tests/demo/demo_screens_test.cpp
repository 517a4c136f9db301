#include "demo/demo_screens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/glyph_tables.h"
#include "protocol/protocol.h"
#include "tests/demo/panel_pictures.h"
#include "tests/support/fakes.h"

namespace quillon::demo {
namespace {

using testing::EngineFixture;
using testing::FillDisplay;
using testing::LineIsInverse;
using testing::MenuAt;
using testing::Pages;
using testing::PagesOf;
using testing::PictureOf;
using testing::ScreenOf;
using testing::SendFrames;

// A model on each screen, with its values at their ends as well.
std::vector<DemoModel> ModelsOnEveryScreen()
{
    std::vector<DemoModel> models;
    for (int index = 0; index < kMenuLineCount; ++index) {
        models.push_back(MenuAt(index));
        models.push_back(ScreenOf(MenuTarget(index), index));
    }
    for (int setPoint : {0, 9, 10, 99}) {
        DemoModel model = ScreenOf(Screen::SetPoint, 0);
        model.setPoint = setPoint;
        models.push_back(model);
        model.screen = Screen::Menu;
        models.push_back(model);
    }
    for (int contrast : {0, 7, 63}) {
        DemoModel model = ScreenOf(Screen::Contrast, 1);
        model.contrast = contrast;
        models.push_back(model);
    }
    for (int pattern = 0; pattern < kPatternCount; ++pattern) {
        DemoModel model = ScreenOf(Screen::Patterns, 3);
        model.pattern = pattern;
        models.push_back(model);
    }
    for (int step : {0, 23, 1000}) {
        DemoModel model = ScreenOf(Screen::Status, 2);
        model.statusStep = step;
        models.push_back(model);
    }
    return models;
}

std::string Describe(const DemoModel& model)
{
    return std::string(ScreenName(model.screen)) + " line " + std::to_string(model.menuIndex) + " set point " +
           std::to_string(model.setPoint) + " contrast " + std::to_string(model.contrast) + " pattern " +
           std::to_string(model.pattern) + " step " + std::to_string(model.statusStep);
}

TEST(DemoKeys, MoveTheHighlightOpenAndLeaveScreensAndChangeValuesWithinTheirRanges)
{
    struct Case {
        DemoModel from;
        Key key;
        DemoModel to;
    };
    const auto with = [](DemoModel model, auto change) {
        change(model);
        return model;
    };
    const std::vector<Case> cases{
        {MenuAt(0), Key::Down, MenuAt(1)},
        {MenuAt(0), Key::Up, MenuAt(kMenuLineCount - 1)},
        {MenuAt(kMenuLineCount - 1), Key::Down, MenuAt(0)},
        {MenuAt(2), Key::Left, MenuAt(2)},
        {MenuAt(0), Key::Right, ScreenOf(Screen::SetPoint, 0)},
        {MenuAt(1), Key::Right, ScreenOf(Screen::Contrast, 1)},
        {MenuAt(2), Key::Right, ScreenOf(Screen::Status, 2)},
        {MenuAt(3), Key::Right, ScreenOf(Screen::Patterns, 3)},
        {MenuAt(4), Key::Right, ScreenOf(Screen::PanelInfo, 4)},
        {ScreenOf(Screen::SetPoint, 0), Key::Up, with(ScreenOf(Screen::SetPoint, 0), [](auto& m) { m.setPoint = 43; })},
        {ScreenOf(Screen::SetPoint, 0), Key::Right, ScreenOf(Screen::SetPoint, 0)},
        {with(ScreenOf(Screen::SetPoint, 0), [](auto& m) { m.setPoint = kSetPointMax; }), Key::Up,
         with(ScreenOf(Screen::SetPoint, 0), [](auto& m) { m.setPoint = kSetPointMax; })},
        {with(ScreenOf(Screen::SetPoint, 0), [](auto& m) { m.setPoint = 0; }), Key::Down,
         with(ScreenOf(Screen::SetPoint, 0), [](auto& m) { m.setPoint = 0; })},
        {with(ScreenOf(Screen::Contrast, 1), [](auto& m) { m.contrast = kContrastMax; }), Key::Up,
         with(ScreenOf(Screen::Contrast, 1), [](auto& m) { m.contrast = kContrastMax; })},
        {ScreenOf(Screen::Contrast, 1), Key::Down,
         with(ScreenOf(Screen::Contrast, 1), [](auto& m) { m.contrast = 31; })},
        {with(ScreenOf(Screen::Patterns, 3), [](auto& m) { m.pattern = kPatternCount - 1; }), Key::Down,
         ScreenOf(Screen::Patterns, 3)},
        {ScreenOf(Screen::Patterns, 3), Key::Up,
         with(ScreenOf(Screen::Patterns, 3), [](auto& m) { m.pattern = kPatternCount - 1; })},
        {ScreenOf(Screen::Status, 2), Key::Down, ScreenOf(Screen::Status, 2)},
        // Left leaves every screen for the menu, its line still highlighted
        // and the value kept.
        {with(ScreenOf(Screen::SetPoint, 0), [](auto& m) { m.setPoint = 50; }), Key::Left,
         with(MenuAt(0), [](auto& m) { m.setPoint = 50; })},
        {ScreenOf(Screen::Contrast, 1), Key::Left, MenuAt(1)},
        {ScreenOf(Screen::Status, 2), Key::Left, MenuAt(2)},
        {ScreenOf(Screen::Patterns, 3), Key::Left, MenuAt(3)},
        {ScreenOf(Screen::PanelInfo, 4), Key::Left, MenuAt(4)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplyKey(c.from, c.key), c.to)
            << Describe(c.from) << ", key " << static_cast<int>(c.key) << " gave " << Describe(ApplyKey(c.from, c.key));
    }
}

TEST(DemoKeys, OnlyTheStatusScreenMovesByItself)
{
    for (const DemoModel& model : ModelsOnEveryScreen()) {
        const DemoModel next = Animate(model);
        EXPECT_EQ(next != model, model.screen == Screen::Status) << Describe(model);
    }
}

TEST(DemoScreens, EveryScreenIsDrawnWithoutAnErrorBitFromAnyStartingPicture)
{
    for (const DemoModel& model : ModelsOnEveryScreen()) {
        EngineFixture panel;
        FillDisplay(panel, 0xA5);
        for (std::uint8_t status : SendFrames(panel, DrawScreen(model))) {
            EXPECT_EQ(status & kStatusErrorMask, 0) << Describe(model);
        }
        EXPECT_EQ(PagesOf(panel.display()), PictureOf(model))
            << Describe(model) << ": what was there before shows through";
        EXPECT_NE(PagesOf(panel.display()), Pages{}) << Describe(model);
    }
}

TEST(DemoScreens, DrawingAChangeLeavesThePictureOfTheNewModel)
{
    std::vector<std::pair<DemoModel, DemoModel>> changes;
    for (const DemoModel& from : ModelsOnEveryScreen()) {
        for (Key key : {Key::Up, Key::Down, Key::Left, Key::Right}) {
            changes.emplace_back(from, ApplyKey(from, key));
        }
        changes.emplace_back(from, Animate(from));
    }
    for (const auto& [from, to] : changes) {
        EngineFixture panel;
        SendFrames(panel, DrawScreen(from));
        for (std::uint8_t status : SendFrames(panel, DrawChange(from, to, kFramedReplyMode))) {
            EXPECT_EQ(status & kStatusErrorMask, 0) << Describe(from) << " to " << Describe(to);
        }
        EXPECT_EQ(PagesOf(panel.display()), PictureOf(to)) << Describe(from) << " to " << Describe(to);
    }
}

TEST(DemoScreens, TheHighlightedMenuLineIsTheInverseOne)
{
    for (int index = 0; index < kMenuLineCount; ++index) {
        const Pages picture = PictureOf(MenuAt(index));
        for (int line = 0; line < kMenuLineCount; ++line) {
            EXPECT_EQ(LineIsInverse(picture, 2 + line), line == index) << "highlight " << index << ", line " << line;
        }
    }
}

TEST(DemoScreens, ValueScreensShowTheValueOnTheSliderNumberAndTheThumb)
{
    struct Case {
        Screen screen;
        int value;
    };
    for (const Case& c : {Case{Screen::SetPoint, 7}, Case{Screen::SetPoint, 42}, Case{Screen::SetPoint, 99},
                          Case{Screen::Contrast, 0}, Case{Screen::Contrast, 63}}) {
        DemoModel model = ScreenOf(c.screen, 0);
        (c.screen == Screen::SetPoint ? model.setPoint : model.contrast) = c.value;
        const Pages picture = PictureOf(model);

        const auto units = DigitGlyph(static_cast<std::uint8_t>(c.value % 10));
        EXPECT_TRUE(std::equal(units.begin(), units.end(), picture[0].begin() + 122)) << c.value;
        const SliderThumb thumb = SliderFor(c.value, c.screen == Screen::SetPoint ? kSetPointMax : kContrastMax);
        for (std::size_t i = 0; i < thumb.bytes.size(); ++i) {
            EXPECT_EQ(picture[thumb.page + i / 3][125 + i % 3], thumb.bytes[i]) << c.value << ", byte " << i;
        }
    }
}

TEST(DemoScreens, TheSliderThumbStaysOnTheTrackAndRisesWithTheValue)
{
    int previousTop = 64;
    for (int value = 0; value <= kSetPointMax; ++value) {
        const SliderThumb thumb = SliderFor(value, kSetPointMax);
        int top = -1;
        int bottom = -1;
        for (std::size_t i = 0; i < thumb.bytes.size(); i += 3) {
            for (int bit = 0; bit < 8; ++bit) {
                if (thumb.bytes[i] >> bit & 1) {
                    const int row = (thumb.page + static_cast<int>(i / 3)) * 8 + bit;
                    top = top < 0 ? row : top;
                    bottom = row;
                }
            }
        }
        EXPECT_GE(top, 9) << value;
        EXPECT_LE(bottom, 54) << value;
        EXPECT_EQ(bottom - top + 1, 4) << value;
        EXPECT_LE(top, previousTop) << value;
        previousTop = top;
    }
    EXPECT_EQ(SliderFor(0, kSetPointMax).page, 6);
    EXPECT_EQ(SliderFor(kSetPointMax, kSetPointMax).page, 1);
}

TEST(DemoBlocks, FitThePanelMarkTheirLastFrameAndHonourBlockEnds)
{
    std::vector<Frame> frames;
    for (int i = 0; i < 6; ++i) {
        frames.push_back(WriteArray(0, static_cast<std::uint8_t>(i), std::vector<std::uint8_t>(40, 0x0F)));
    }
    frames.insert(frames.begin() + 1, SetContrastAndReplyMode(10, kFramedReplyMode));
    const std::vector<Block> blocks = PackBlocks(frames);

    std::vector<std::size_t> framesPerBlock;
    for (const Block& block : blocks) {
        EXPECT_LE(block.size(), kRxBufferSize);
        std::size_t count = 0;
        for (std::size_t at = 0; at < block.size(); at += block[at + 1] + 3u) {
            const bool last = at + block[at + 1] + 3u == block.size();
            EXPECT_EQ((block[at] & 0x80) != 0, last);
            ++count;
        }
        framesPerBlock.push_back(count);
    }
    // 45-byte frames, two to a block; the code 14 frame closes the first.
    EXPECT_EQ(framesPerBlock, (std::vector<std::size_t>{2, 2, 2, 1}));

    EngineFixture panel;
    for (std::uint8_t status : SendFrames(panel, frames)) {
        EXPECT_EQ(status, 0) << "every checksum and length is right";
    }
}

TEST(DemoBlocks, TheSetUpIsAnsweredWithTheLongStatusFrameAndKeepsTheReplyMode)
{
    EngineFixture framed;
    const auto setUp = PackBlocks(StartFrames(DemoModel{}, kFramedReplyMode));
    ASSERT_EQ(setUp.size(), 1u);
    EXPECT_EQ(framed.Exchange(setUp.front()), (std::vector<std::uint8_t>{0x0E, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x18}));

    EngineFixture singleByte;
    singleByte.engine.SetSynchRequired(true);
    EXPECT_EQ(singleByte.Exchange(PackBlocks(StartFrames(DemoModel{}, kSingleByteReplyMode)).front()),
              (std::vector<std::uint8_t>{0x00}));
    EXPECT_EQ(singleByte.engine.replyMode(), kSingleByteReplyMode);
}

TEST(DemoBlocks, TheScreensAndTheirChangesUseEveryFunctionCodeThePanelCarriesOut)
{
    std::uint16_t codes = 0;
    const auto add = [&](const std::vector<Frame>& frames) {
        for (const Block& block : PackBlocks(frames)) {
            codes |= FunctionCodesOf(block);
        }
    };
    add(StartFrames(DemoModel{}, kFramedReplyMode));
    add({ReadSwitches()});
    for (const DemoModel& model : ModelsOnEveryScreen()) {
        add(DrawScreen(model));
        add(DrawChange(model, ApplyKey(model, Key::Up), kFramedReplyMode));
    }
    constexpr std::uint16_t kCarriedOut =
        1 << 1 | 1 << 2 | 1 << 3 | 1 << 4 | 1 << 5 | 1 << 6 | 1 << 8 | 1 << 9 | 1 << 10 | 1 << 11 | 1 << 14;
    EXPECT_EQ(codes, kCarriedOut);
}

} // namespace
} // namespace quillon::demo
