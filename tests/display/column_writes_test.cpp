#include "tests/display/display_test.h"

namespace quillon::testing {
namespace {

class ColumnWritesTest : public DisplayTest {
protected:
    void WriteRun(int page, int column, int length, const Bytes& source)
    {
        f.state.work.runPage = static_cast<std::uint8_t>(page);
        f.state.work.runColumn = static_cast<std::uint8_t>(column);
        f.state.work.runLength = static_cast<std::uint8_t>(length);
        f.link.WriteColumnRun(source.data());
    }
};

struct RunCase {
    int page, column, length;
    RunPlace painted;
    bool error;
};

TEST_F(ColumnWritesTest, BadAddressesAreCorrectedWrittenBackAndFlagged)
{
    const RunCase cases[] = {
        {3, 120, 10, {120, 3, 8}, true},  // runs off the right edge
        {8, 0, 4, {0, 0, 4}, true},       // page 8 lands on page 0
        {255, 5, 1, {5, 0, 1}, true},     //
        {0, 200, 128, {0, 0, 128}, true}, // column reset to 0, full width fits
        {0, 200, 200, {0, 0, 128}, true}, // then a length above 128 is cut
        {9, 200, 5, {0, 0, 5}, true},     // every check fails, still written once
        {0, 128, 1, {0, 0, 1}, true},     //
        {7, 127, 1, {127, 7, 1}, false},  // the last byte of the display
        {0, 0, 128, {0, 0, 128}, false},  // a full page
        {4, 64, 64, {64, 4, 64}, false},  //
    };
    const Bytes source(255, 0x5A);
    for (const RunCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "page " << c.page << " column " << c.column << " length " << c.length);
        f.view.runs.clear();
        f.state.status = 0;
        WriteRun(c.page, c.column, c.length, source);
        ASSERT_EQ(Places(), std::vector<RunPlace>{c.painted});
        EXPECT_EQ(Errors(), c.error ? 0x08 : 0x00);
        EXPECT_EQ(f.state.work.runPage, c.painted.page);
        EXPECT_EQ(f.state.work.runColumn, c.painted.column);
        EXPECT_EQ(f.state.work.runLength, c.painted.length);
    }
}

TEST_F(ColumnWritesTest, DrawRequestCarriesTheRunAndEveryRunRepaints)
{
    WriteRun(3, 120, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const DrawRequest& request = f.link.drawRequest();
    EXPECT_EQ(request.startColumn, 120);
    EXPECT_EQ(request.topRow, 24);
    EXPECT_EQ(request.length, 8);
    EXPECT_EQ(Bytes(request.bytes.begin(), request.bytes.begin() + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(f.view.repaints, 1);
    EXPECT_EQ(f.view.Columns(3, 120, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(ColumnWritesTest, EmptyRunPaintsNothingButStillRepaints)
{
    f.view.Fill(0xA5);
    WriteRun(2, 10, 0, {});
    EXPECT_EQ(f.view.repaints, 1);
    EXPECT_EQ(Errors(), 0);
    EXPECT_EQ(f.view.Column(10, 2), 0xA5);
}

TEST_F(ColumnWritesTest, ByteReplacesAllEightPixelsOfItsColumn)
{
    f.view.Fill(0xFF);
    WriteRun(2, 5, 1, {0x01});
    EXPECT_TRUE(f.view.Pixel(5, 16));
    for (int y = 17; y <= 23; ++y) {
        EXPECT_FALSE(f.view.Pixel(5, y)) << "row " << y;
    }
    EXPECT_TRUE(f.view.Pixel(5, 15));
    EXPECT_TRUE(f.view.Pixel(5, 24));
}

struct ClearCase {
    std::uint8_t range;
    std::vector<int> pages; // cleared, in order; empty with an error
};

TEST_F(ColumnWritesTest, ClearPagesBlanksTheRangeInHalfPagesOrRefusesIt)
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
        f.view.runs.clear();
        f.view.Fill(0xC3);
        f.state.status = 0;
        f.state.pageRange = c.range;
        f.link.ClearPages();

        std::vector<RunPlace> expected;
        for (int page : c.pages) {
            expected.push_back({0, page, 64});
            expected.push_back({64, page, 64});
        }
        EXPECT_EQ(Places(), expected);
        EXPECT_EQ(Errors(), c.pages.empty() ? 0x08 : 0x00);
        for (int page = 0; page < 8; ++page) {
            const bool cleared = std::find(c.pages.begin(), c.pages.end(), page) != c.pages.end();
            EXPECT_EQ(f.view.Columns(page, 0, 128), Bytes(128, cleared ? 0x00 : 0xC3)) << "page " << page;
        }
    }
}

} // namespace
} // namespace quillon::testing
