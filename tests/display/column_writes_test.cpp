#include <algorithm>

#include "tests/display/display_test.h"

namespace quillon::testing {
namespace {

using ColumnWritesTest = DisplayTest;

struct RunCase {
    int page, column, length;
    RunPlace painted;
    bool error;
};

// A run reaches the display memory through WRITE ARRAY (up to 115 bytes) or,
// longer, through DRAW AND REPEAT of a one-byte pattern.
TEST_F(ColumnWritesTest, BadAddressesAreCorrectedAndFlagged)
{
    const RunCase cases[] = {
        {3, 120, 10, {120, 3, 8}, true},  // runs off the right edge
        {8, 0, 4, {0, 0, 4}, true},       // page 8 lands on page 0
        {255, 5, 1, {5, 0, 1}, true},     //
        {0, 200, 128, {0, 0, 128}, true}, // column reset to 0, full width fits
        {9, 200, 5, {0, 0, 5}, true},     // every check fails, still written once
        {0, 128, 1, {0, 0, 1}, true},     //
        {7, 127, 1, {127, 7, 1}, false},  // the last byte of the display
        {0, 0, 128, {0, 0, 128}, false},  // a full page
        {4, 64, 64, {64, 4, 64}, false},  //
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "page " << c.page << " column " << c.column << " length " << c.length);
        runs.Clear();
        const auto page = static_cast<std::uint8_t>(c.page);
        const auto column = static_cast<std::uint8_t>(c.column);
        if (c.length > 115) {
            Command(kDrawAndRepeat, {column, page, static_cast<std::uint8_t>(c.length - 1), 0x5A});
        } else {
            Bytes data{column, page};
            data.insert(data.end(), c.length, 0x5A);
            Command(kWriteArray, data);
        }
        ASSERT_EQ(Places(), std::vector<RunPlace>{c.painted});
        EXPECT_EQ(Columns(c.painted.page, c.painted.column, c.painted.length), Bytes(c.painted.length, 0x5A));
        EXPECT_EQ(Errors(), c.error ? 0x08 : 0x00);
    }
}

TEST_F(ColumnWritesTest, EveryRunIsReportedWithTheAreaItCovers)
{
    const auto result = display.ExecuteFrame(Frame(kWriteArray, {120, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_EQ(runs.runs.size(), 1u);
    const DisplayRect area{120, 24, 128, 32};
    EXPECT_EQ(runs.runs[0].area, area);
    EXPECT_EQ(result.changed, area);
    EXPECT_EQ(Columns(3, 120, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(ColumnWritesTest, MemoryRecordsWhereRunsWent)
{
    DisplayMemory memory;
    const std::uint8_t bytes[] = {1, 2, 3};
    memory.WriteRun(2, 10, bytes);
    memory.WriteRun(5, 100, std::span(bytes).first(1));
    EXPECT_EQ(memory.changeCount(), 2u);
    EXPECT_EQ(memory.Column(2, 12), 3);
    EXPECT_EQ(memory.changes(), (DisplayRect{10, 16, 101, 48}));
}

TEST_F(ColumnWritesTest, ByteReplacesAllEightPixelsOfItsColumn)
{
    Fill(0xFF);
    Command(kWriteArray, {5, 2, 0x01});
    EXPECT_TRUE(Memory().Pixel(5, 16));
    for (int y = 17; y <= 23; ++y) {
        EXPECT_FALSE(Memory().Pixel(5, y)) << "row " << y;
    }
    EXPECT_TRUE(Memory().Pixel(5, 15));
    EXPECT_TRUE(Memory().Pixel(5, 24));
}

struct ClearCase {
    std::uint8_t range;
    std::vector<int> pages; // cleared, in order; empty with an error
};

TEST_F(ColumnWritesTest, BlankAreaClearsTheRangeInHalfPagesOrRefusesIt)
{
    const ClearCase cases[] = {
        {0x38, {0, 1, 2, 3, 4, 5, 6, 7}},
        {0x00, {0}},
        {0x3F, {7}},
        {0x1A, {2, 3}},
        {0x07, {}}, // first page 7, last page 0
        {0x13, {}},
        {0x40, {}},
        {0x80, {}},
        {0xF8, {}},
    };
    for (const ClearCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "pageRange 0x" << std::hex << int(c.range));
        Fill(0xC3);
        Command(kBlankArea, {c.range});

        std::vector<RunPlace> expected;
        for (int page : c.pages) {
            expected.push_back({0, page, 64});
            expected.push_back({64, page, 64});
        }
        EXPECT_EQ(Places(), expected);
        EXPECT_EQ(Errors(), c.pages.empty() ? 0x08 : 0x00);
        for (int page = 0; page < 8; ++page) {
            const bool cleared = std::find(c.pages.begin(), c.pages.end(), page) != c.pages.end();
            EXPECT_EQ(Columns(page, 0, 128), Bytes(128, cleared ? 0x00 : 0xC3)) << "page " << page;
        }
    }
}

} // namespace
} // namespace quillon::testing
