// The protocol monitor on an engine driven by hand: its rows against the
// decoder's texts, its filters, pause and ring, the pixels a selected frame
// changed, and the frame that last wrote each display pixel.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTemporaryDir>

#include "tests/ui/ui_fakes.h"
#include "trace/frame_decoder.h"
#include "ui/link_taps.h"
#include "ui/panel_widget.h"
#include "ui/protocol_monitor.h"

namespace quillon::testing {
namespace {

constexpr std::uint8_t kAllPages = 0 | 7 << 3;
constexpr std::uint8_t kPages5To6 = 5 | 6 << 3;

// Two blocks whose frames own known parts of the display: frame 1 blanks it
// all; frames 2 and 3 write overlapping runs on page 2 (columns 10 to 29,
// then 25 to 34); frame 4 blanks pages 5 and 6; frame 5 writes columns 120
// to 127 of page 6.
const std::vector<FrameContent> kFirstBlock{
    {kBlankArea, {kAllPages}},
    {kWriteArray, Bytes(22, 0xFF)},
    {kWriteArray, Bytes(12, 0x81)},
};
const std::vector<FrameContent> kSecondBlock{
    {kBlankArea, {kPages5To6}},
    {kWriteArray, Bytes(10, 0x3C)},
};

std::vector<FrameContent> Placed()
{
    std::vector<FrameContent> frames = kFirstBlock;
    frames[1].data[0] = 10;
    frames[1].data[1] = 2;
    frames[2].data[0] = 25;
    frames[2].data[1] = 2;
    return frames;
}

std::vector<FrameContent> PlacedSecond()
{
    std::vector<FrameContent> frames = kSecondBlock;
    frames[1].data[0] = 120;
    frames[1].data[1] = 6;
    return frames;
}

// The frame that last wrote a pixel after both blocks, worked out from the
// frames' parameters alone.
std::uint32_t ExpectedWriter(int x, int y)
{
    const int page = y / 8;
    if (page == 6 && x >= 120) {
        return 5;
    }
    if (page == 5 || page == 6) {
        return 4;
    }
    if (page == 2 && x >= 25 && x <= 34) {
        return 3;
    }
    if (page == 2 && x >= 10 && x <= 29) {
        return 2;
    }
    return 1;
}

// An engine driven by hand, its events going to the desktop program's taps
// and a monitor over them.
class MonitorTest : public ::testing::Test {
protected:
    MonitorTest() { panel.engine.SetObserver(&taps); }

    void Exchange(const Bytes& block)
    {
        replies.push_back(panel.Exchange(block));
        taps.log().Flush();
    }
    void SendBothBlocks()
    {
        Exchange(EncodeBlock(Placed()));
        Exchange(EncodeBlock(PlacedSecond()));
    }
    QStringList Column(const QAbstractItemModel& model, int column) const
    {
        QStringList texts;
        for (int row = 0; row < model.rowCount(); ++row) {
            texts << model.index(row, column).data().toString();
        }
        return texts;
    }

    EngineFixture panel;
    std::vector<Bytes> replies;
    LinkTaps taps{panel.clock};
    ProtocolMonitor monitor{taps.log(), panel.engine.display()};
};

TEST_F(MonitorTest, RowsOfAnExchangeCarryTheDecodersTexts)
{
    SendBothBlocks();
    Bytes corrupt = EncodeFrame(kWriteString, Bytes{0, 4, 1, 'O', 'K'});
    corrupt.back() ^= 0x01;
    Exchange(corrupt);

    std::vector<Bytes> sent;
    for (const auto& block : {Placed(), PlacedSecond()}) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            sent.push_back(EncodeFrame(block[i].code, block[i].data, i + 1 == block.size()));
        }
    }
    ASSERT_EQ(replies.size(), 3u);
    const QString device = QStringLiteral("device → panel");
    const QString panelSide = QStringLiteral("panel → device");
    struct Expected {
        QString direction;
        int block;
        Bytes bytes;
        std::string meaning;
        std::string error;
    };
    const std::vector<Expected> expected{
        {device, 1, sent[0], DescribeFrame(sent[0]), {}},
        {device, 1, sent[1], DescribeFrame(sent[1]), {}},
        {device, 1, sent[2], DescribeFrame(sent[2]), {}},
        {panelSide, 1, replies[0], DescribeReply(replies[0]), {}},
        {device, 2, sent[3], DescribeFrame(sent[3]), {}},
        {device, 2, sent[4], DescribeFrame(sent[4]), {}},
        {panelSide, 2, replies[1], DescribeReply(replies[1]), {}},
        {device, 3, corrupt, DescribeFrame(corrupt), DescribeFrameFaults(corrupt)},
        {panelSide, 3, replies[2], DescribeReply(replies[2]), {}},
    };
    const MonitorLog& log = taps.log();
    ASSERT_EQ(log.rowCount(), static_cast<int>(expected.size()));
    for (int row = 0; row < log.rowCount(); ++row) {
        const Expected& e = expected[static_cast<std::size_t>(row)];
        const auto cell = [&](int column) { return log.index(row, column).data().toString(); };
        EXPECT_EQ(cell(MonitorLog::kDirectionColumn), e.direction) << row;
        EXPECT_EQ(cell(MonitorLog::kBlockColumn).toInt(), e.block) << row;
        EXPECT_EQ(cell(MonitorLog::kBytesColumn).toStdString(), HexBytes(e.bytes)) << row;
        EXPECT_EQ(cell(MonitorLog::kMeaningColumn).toStdString(), e.meaning) << row;
        EXPECT_EQ(cell(MonitorLog::kErrorColumn).toStdString(), e.error) << row;
        EXPECT_EQ(log.headerData(row, Qt::Vertical).toInt(), row + 1);
    }
    EXPECT_NE(expected[7].error, "") << "the corrupt frame is told as such";
    EXPECT_NE(expected[8].meaning.find("checksum error"), std::string::npos) << expected[8].meaning;
}

TEST(MonitorFaultTest, AFaultIsARowOfItsOwnColourAfterTheReplyItChanged)
{
    FaultyEngine panel;
    LinkTaps taps(panel.clock);
    panel.engine.SetObserver(&taps);
    panel.Add("drop-reply:every=1");
    panel.Exchange(Frame(kReadSwitches, {0x00}));
    taps.log().Flush();

    const MonitorLog& log = taps.log();
    ASSERT_EQ(log.rowCount(), 3);
    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return log.index(row, column).data(role);
    };
    EXPECT_EQ(cell(1, MonitorLog::kBytesColumn), cell(2, MonitorLog::kBytesColumn));
    EXPECT_EQ(cell(2, MonitorLog::kMeaningColumn).toString(),
              QStringLiteral("reply dropped (fault drop-reply every 1)"));
    EXPECT_EQ(cell(2, MonitorLog::kDirectionColumn).toString(), QStringLiteral("panel → device"));
    EXPECT_FALSE(cell(1, MonitorLog::kMeaningColumn, Qt::ForegroundRole).isValid());
    const QVariant colour = cell(2, MonitorLog::kMeaningColumn, Qt::ForegroundRole);
    ASSERT_TRUE(colour.isValid());
    EXPECT_NE(colour, cell(0, MonitorLog::kErrorColumn, Qt::ForegroundRole));
    for (int column = 0; column <= MonitorLog::kErrorColumn; ++column) {
        EXPECT_EQ(cell(2, column, Qt::ForegroundRole), colour) << column;
    }
    EXPECT_TRUE(panel.device.Writes().empty());

    MonitorFilter errorsOnly(taps.log());
    errorsOnly.SetFollowing(true);
    errorsOnly.SetErrorsOnly(true);
    ASSERT_EQ(errorsOnly.rowCount(), 1);
    EXPECT_EQ(errorsOnly.index(0, MonitorLog::kMeaningColumn).data(), cell(2, MonitorLog::kMeaningColumn));
}

TEST_F(MonitorTest, FiltersShowErrorsOnlyOrOneFunctionCodeAndSaveWhatTheyShow)
{
    SendBothBlocks();
    Bytes corrupt = EncodeFrame(kWriteArray, Bytes{0, 0, 1});
    corrupt.back() ^= 0x01;
    Exchange(corrupt);
    monitor.show();

    struct Case {
        bool errorsOnly;
        std::optional<int> code;
        QStringList bytes;
    };
    const QString corruptHex = QString::fromStdString(HexBytes(corrupt));
    const Case cases[] = {
        {true, std::nullopt, {corruptHex}},
        {false, kBlankArea, {"04 01 38 3E", "04 01 35 3B"}},
        {true, kWriteArray, {corruptHex}},
        {true, kBlankArea, {}},
        {false, std::nullopt, Column(taps.log(), MonitorLog::kBytesColumn)},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        monitor.SetErrorsOnly(c.errorsOnly);
        monitor.SetCode(c.code);
        EXPECT_EQ(Column(monitor.shown(), MonitorLog::kBytesColumn), c.bytes)
            << c.errorsOnly << " " << c.code.value_or(0);

        const QString path = dir.filePath(QStringLiteral("rows.txt"));
        QString error;
        ASSERT_TRUE(monitor.SaveText(path, error)) << error.toStdString();
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), c.bytes.size());
        for (int i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(lines[i].contains(QStringLiteral("  ") + c.bytes[i] + QStringLiteral("  ")))
                << lines[i].toStdString();
        }
    }
    QString error;
    EXPECT_FALSE(monitor.SaveText(dir.filePath(QStringLiteral("missing/rows.txt")), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(MonitorTest, PauseHoldsTheRowsClearEmptiesAndTheRingKeepsTheLast)
{
    Exchange(EncodeBlock(Placed()));
    monitor.SetPaused(true);
    Exchange(EncodeBlock(PlacedSecond()));
    EXPECT_EQ(taps.log().rowCount(), 4) << "the second block waits while paused";
    monitor.SetPaused(false);
    EXPECT_EQ(taps.log().rowCount(), 7);

    monitor.Clear();
    EXPECT_EQ(taps.log().rowCount(), 0);
    Exchange(EncodeFrame(kBlankArea, Bytes{kAllPages}));
    ASSERT_EQ(taps.log().rowCount(), 2);
    EXPECT_EQ(taps.log().headerData(0, Qt::Vertical).toInt(), 8) << "numbering goes on";

    MonitorLog small(QDateTime::currentDateTime(), 10);
    for (std::uint64_t number = 1; number <= 25; ++number) {
        TraceRow row;
        row.number = number;
        row.kind = TraceKind::Frame;
        row.frame = static_cast<std::uint32_t>(number);
        small.Add(row);
        small.Flush();
    }
    EXPECT_EQ(small.rowCount(), 10);
    EXPECT_EQ(small.headerData(9, Qt::Vertical).toInt(), 25);
    EXPECT_EQ(small.RowOfFrame(16), std::optional<int>(0));
    EXPECT_FALSE(small.RowOfFrame(15));
}

TEST_F(MonitorTest, SelectingAFrameMarksThePixelsItChanged)
{
    SendBothBlocks();
    monitor.show();
    QSignalSpy marked(&monitor, &ProtocolMonitor::highlightChanged);
    const auto last = [&marked] { return marked.last().at(0).value<std::optional<DisplayRect>>(); };

    // Rows: frames 1 to 3, the reply, frames 4 and 5, the reply.
    struct Case {
        std::uint64_t row;
        std::optional<DisplayRect> area;
    };
    const Case cases[] = {
        {2, DisplayRect{10, 16, 30, 24}}, {1, DisplayRect{0, 0, 128, 64}},    {4, std::nullopt},
        {5, DisplayRect{0, 40, 128, 56}}, {6, DisplayRect{120, 48, 128, 56}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(monitor.SelectRow(c.row)) << c.row;
        ASSERT_FALSE(marked.isEmpty()) << c.row;
        EXPECT_EQ(last(), c.area) << c.row;
    }
    monitor.SetCode(kBlankArea);
    EXPECT_FALSE(monitor.SelectRow(6)) << "a row filtered out is not shown";
    EXPECT_FALSE(monitor.SelectRow(8)) << "no such row";
    monitor.hide();
    EXPECT_EQ(last(), std::nullopt) << "a closed monitor marks nothing";
}

TEST_F(MonitorTest, EveryPixelTellsTheFrameThatLastWroteIt)
{
    SendBothBlocks();
    for (int y = 0; y < kDisplayHeight; ++y) {
        for (int x = 0; x < kDisplayWidth; ++x) {
            monitor.ShowPixelWriter(x, y);
            const QString frame = QStringLiteral("(frame %1,").arg(ExpectedWriter(x, y));
            ASSERT_TRUE(monitor.pixelText().contains(frame))
                << x << "," << y << " " << monitor.pixelText().toStdString();
        }
    }

    // Rows: frames 1 to 3, the reply, frames 4 and 5, the reply.
    const Bytes third = EncodeFrame(kWriteArray, Placed()[2].data, true);
    monitor.ShowPixelWriter(30, 20);
    EXPECT_EQ(
        monitor.pixelText(),
        QStringLiteral("Pixel 30, 20: row 3 (frame 3, block 1): %1").arg(QString::fromStdString(DescribeFrame(third))));
    monitor.ShowPixelWriter(127, 55);
    EXPECT_TRUE(monitor.pixelText().startsWith(QStringLiteral("Pixel 127, 55: row 6 (frame 5, block 2): WRITE ARRAY")))
        << monitor.pixelText().toStdString();

    monitor.Clear();
    monitor.ShowPixelWriter(30, 20);
    EXPECT_TRUE(monitor.pixelText().contains(QStringLiteral("frame 3, no longer shown")))
        << monitor.pixelText().toStdString();
    monitor.ShowPixelWriter(-1, -1);
    EXPECT_TRUE(monitor.pixelText().isEmpty());

    EngineFixture fresh;
    LinkTaps freshTaps(fresh.clock);
    ProtocolMonitor freshMonitor(freshTaps.log(), fresh.engine.display());
    freshMonitor.ShowPixelWriter(0, 0);
    EXPECT_TRUE(freshMonitor.pixelText().contains(QStringLiteral("drawn by no frame")));
}

TEST_F(MonitorTest, CopyPutsTheSelectedRowsOnTheClipboard)
{
    SendBothBlocks();
    monitor.show();
    monitor.view()->selectRow(1);
    monitor.view()->selectionModel()->select(monitor.shown().index(4, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    monitor.CopyRows();
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(Column(taps.log(), MonitorLog::kBytesColumn)[1]));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("BLANK AREA")));
}

TEST_F(MonitorTest, ANewMonitorHoldsTypicalRowsWholeTheMeaningWidest)
{
    const auto text = [](std::uint8_t attribute, std::uint8_t column, std::string_view words) {
        Bytes data{column, attribute};
        data.insert(data.end(), words.begin(), words.end());
        return FrameContent{kWriteString, data};
    };
    const std::vector<FrameContent> screen{
        {kBlankArea, {kAllPages}},
        text(0x08, 0, "Panel info"),
        text(0x0B, 4, "Settings"),
        text(0x8A, 2, "OK"),
        {kWriteArray, Bytes{120, 6, 0x3C, 0x3C}},
    };
    Exchange(EncodeBlock(screen));
    Exchange(EncodeFrame(kReadSwitches, Bytes{0}));
    monitor.show();

    const QTableView& view = *monitor.view();
    // A cell's own size hint, as the view's delegate measures its text.
    QStyleOptionViewItem option;
    option.initFrom(view.viewport());
    option.font = view.font();
    option.fontMetrics = view.fontMetrics();
    for (int column = 0; column < MonitorLog::kErrorColumn; ++column) {
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            const QModelIndex cell = view.model()->index(row, column);
            EXPECT_GE(view.columnWidth(column), view.itemDelegate()->sizeHint(option, cell).width())
                << "cut: " << cell.data().toString().toStdString();
        }
        if (column != MonitorLog::kMeaningColumn) {
            EXPECT_GE(view.columnWidth(MonitorLog::kMeaningColumn), view.columnWidth(column)) << column;
        }
    }
    int width = view.verticalHeader()->width();
    for (int column = 0; column <= MonitorLog::kErrorColumn; ++column) {
        width += view.columnWidth(column);
    }
    EXPECT_LE(width, view.viewport()->width() + view.verticalHeader()->width()) << "the window shows every column";

    // Closed and opened again, the columns keep the widths given them.
    monitor.view()->setColumnWidth(MonitorLog::kBytesColumn, 321);
    monitor.hide();
    monitor.show();
    EXPECT_EQ(monitor.view()->columnWidth(MonitorLog::kBytesColumn), 321);
}

TEST_F(MonitorTest, TheRowTotalCountsOnWhileAFilterShowsNoneOfTheNewRows)
{
    monitor.show();
    monitor.SetCode(kBlankArea);
    for (int block = 0; block < 3; ++block) {
        Exchange(EncodeFrame(kWriteArray, Bytes{0, 0, 0xFF}));
        const int held = taps.log().rowCount();
        EXPECT_TRUE(monitor.countsText().startsWith(QStringLiteral("0 of %L1 rows").arg(held)))
            << monitor.countsText().toStdString();
    }
    monitor.SetCode(std::nullopt);
    EXPECT_TRUE(monitor.countsText().startsWith(QStringLiteral("6 of 6 rows"))) << monitor.countsText().toStdString();
}

TEST(MonitorPlacementTest, BesideTheWindowOnTheFirstSideWithRoomElseOverItsLeastAlwaysOnTheScreen)
{
    const QRect screen(0, 0, 1280, 1024);
    const QRect belowATopBar(0, 30, 1280, 994);
    struct Case {
        const char* name;
        QRect window;
        QSize wanted;
        QSize least;
        QRect available;
        QRect placed;
    };
    const Case cases[] = {
        {"room beside", QRect(0, 0, 304, 370), QSize(900, 420), QSize(700, 300), screen, QRect(304, 0, 900, 420)},
        {"narrowed beside", QRect(0, 0, 304, 370), QSize(1100, 420), QSize(900, 300), screen, QRect(304, 0, 976, 420)},
        {"too narrow beside: below", QRect(0, 0, 304, 370), QSize(1100, 420), QSize(1000, 300), screen,
         QRect(0, 370, 1100, 420)},
        {"too narrow on the right: left", QRect(900, 100, 304, 370), QSize(1000, 420), QSize(800, 300), screen,
         QRect(0, 100, 900, 420)},
        {"lowered below", QRect(0, 0, 604, 632), QSize(1200, 632), QSize(950, 300), screen, QRect(0, 632, 1200, 392)},
        {"above a low window", QRect(0, 600, 604, 424), QSize(1200, 632), QSize(950, 300), screen,
         QRect(0, 0, 1200, 600)},
        {"no room: over the least of it, below", QRect(0, 0, 906, 937), QSize(1200, 937), QSize(950, 300), screen,
         QRect(0, 724, 1200, 300)},
        {"no room: over the least of it, beside", QRect(0, 0, 1000, 400), QSize(1200, 950), QSize(300, 900),
         QRect(0, 0, 1280, 1000), QRect(980, 0, 300, 950)},
        {"larger than the screen", QRect(0, 0, 304, 370), QSize(1400, 1200), QSize(900, 300), screen,
         QRect(304, 0, 976, 1024)},
        {"low window: raised to fit", QRect(100, 800, 304, 370), QSize(900, 420), QSize(800, 300), screen,
         QRect(404, 604, 876, 420)},
        {"top bar", QRect(0, 0, 304, 370), QSize(900, 1200), QSize(800, 300), belowATopBar, QRect(304, 30, 900, 994)},
        {"second screen", QRect(1280, 0, 304, 370), QSize(900, 420), QSize(800, 300), QRect(1280, 0, 1920, 1080),
         QRect(1584, 0, 900, 420)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MonitorPlacement(c.window, c.wanted, c.least, c.available), c.placed) << c.name;
    }
}

// The desktop program's window with the monitor attached, shown at the
// screen's top left where the program puts it (a system may place a new
// window elsewhere).
class MonitorWindowTest : public WindowTest {
protected:
    void Open(bool shown = true)
    {
        taps_.Attach(rig.host);
        window_ = MakeWindow();
        monitor_.emplace(taps_.log(), engine.display());
        monitor_->Attach(*window_);
        if (shown) {
            window_->move(0, 0);
            window_->show();
        }
    }

    LinkTaps taps_{rig.clock};
    std::unique_ptr<MainWindow> window_;
    std::optional<ProtocolMonitor> monitor_;
};

TEST_F(MonitorWindowTest, TheViewMenuOpensItBesideThePanelAndItTellsThePixelPointedAt)
{
    Open();
    const auto& window = window_;
    ProtocolMonitor& monitor = *monitor_;
    rig.queue.Feed(EncodeFrame(kWriteArray, Bytes{3, 1, 0xFF, 0xFF}));
    while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    engine.Tick();

    emit window->panel()->displayPixelHovered(3, 9);
    EXPECT_TRUE(monitor.pixelText().isEmpty()) << "nothing is told while the monitor is closed";
    emit window->protocolMonitorRequested();
    EXPECT_TRUE(monitor.isVisible());
    EXPECT_GE(monitor.x(), window->frameGeometry().right());
    EXPECT_TRUE(window->screen()->availableGeometry().contains(monitor.frameGeometry()));
    // Beside the panel at 1x on a 1280-wide screen the meaning is in sight
    // whole, however typical rows' bytes are cut.
    const QTableView& view = *monitor.view();
    EXPECT_LE(view.columnViewportPosition(MonitorLog::kMeaningColumn) + view.columnWidth(MonitorLog::kMeaningColumn),
              view.viewport()->width());
    emit window->panel()->displayPixelHovered(3, 9);
    EXPECT_TRUE(monitor.pixelText().contains(QStringLiteral("row 1 (frame 1, block 1): WRITE ARRAY")))
        << monitor.pixelText().toStdString();

    window->close();
    EXPECT_FALSE(monitor.isVisible());
}

TEST_F(MonitorWindowTest, AtEveryZoomOfferedItOpensOnTheScreenWithItsMeaningsWholeAndThePanelsKeysInSight)
{
    Open();
    const auto& window = window_;
    ProtocolMonitor& monitor = *monitor_;
    const QRect screen = window->screen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(1280, 1024));
    // The bottom of the panel picture's lowest key, in rows at 1x.
    constexpr int kKeysBottom = 237;
    const int largest = window->LargestZoomThatFits();
    ASSERT_EQ(largest, 3) << "the zooms a 1280 x 1024 screen holds";
    for (int zoom = PanelWidget::kMinZoom; zoom <= largest; ++zoom) {
        window->SetZoom(zoom);
        ASSERT_EQ(window->panel()->zoom(), zoom);
        emit window->protocolMonitorRequested();
        ASSERT_TRUE(monitor.isVisible()) << zoom;
        const QRect panel = window->frameGeometry();
        const QRect rows = monitor.frameGeometry();
        const std::string where = std::to_string(zoom) + "x: panel " + std::to_string(panel.width()) + "x" +
                                  std::to_string(panel.height()) + ", monitor at " + std::to_string(rows.x()) + "," +
                                  std::to_string(rows.y()) + " " + std::to_string(rows.width()) + "x" +
                                  std::to_string(rows.height());
        EXPECT_TRUE(screen.contains(panel)) << where;
        EXPECT_TRUE(screen.contains(rows)) << where;
        // At 3x the screen keeps 370 pixels beside the panel and 86 below
        // it, too little for the monitor's columns or a few of its rows:
        // then it covers only the front below the keys.
        const QRect over = rows & panel;
        EXPECT_EQ(over.isEmpty(), zoom < 3) << where;
        const int keysBottom = window->panel()->mapToGlobal(QPoint(0, kKeysBottom * zoom)).y();
        EXPECT_TRUE(over.isEmpty() || over.top() > keysBottom) << where;
        const QTableView& view = *monitor.view();
        EXPECT_LE(view.columnViewportPosition(MonitorLog::kMeaningColumn) +
                      view.columnWidth(MonitorLog::kMeaningColumn),
                  view.viewport()->width())
            << where;
        monitor.close();
    }
}

TEST_F(MonitorWindowTest, TheStatusLineNamesThePortAndWhatBecameOfIt)
{
    Open(false);
    const auto& window = window_;
    ProtocolMonitor& monitor = *monitor_;
    LinkTaps& taps = taps_;
    const QString port = window->CurrentPort().Describe();
    EXPECT_FALSE(monitor.countsText().contains(port)) << "no port has been opened yet";
    const std::pair<PortChange, const char*> told[] = {
        {PortChange::Opened, " (open)"},
        {PortChange::HungUp, " (hung up)"},
        {PortChange::OpenedAgain, " (open)"},
        {PortChange::OpenFailed, " (not open)"},
    };
    for (const auto& [change, state] : told) {
        engine.TellPortChange(change, change == PortChange::OpenFailed ? 1 : 0);
        taps.log().Flush();
        EXPECT_TRUE(monitor.countsText().endsWith(port + QString::fromLatin1(state)))
            << monitor.countsText().toStdString();
    }
}

TEST_F(MonitorWindowTest, AZoomWhileItIsOpenMovesItClearOfThePanelAgain)
{
    Open();
    const auto& window = window_;
    ProtocolMonitor& monitor = *monitor_;
    const QRect screen = window->screen()->availableGeometry();
    emit window->protocolMonitorRequested();
    constexpr int kKeysBottom = 237;
    // Up and down again, the monitor open throughout; at 3x the screen holds
    // both only with the monitor over the front below the keys.
    for (const int zoom : {2, 3, 2, 1, 3, 1}) {
        window->SetZoom(zoom);
        ASSERT_EQ(window->panel()->zoom(), zoom);
        ASSERT_TRUE(monitor.isVisible());
        const QRect panel = window->frameGeometry();
        const QRect rows = monitor.frameGeometry();
        const QRect over = rows & panel;
        const std::string where = std::to_string(zoom) + "x: monitor at " + std::to_string(rows.x()) + "," +
                                  std::to_string(rows.y()) + " " + std::to_string(rows.width()) + "x" +
                                  std::to_string(rows.height());
        EXPECT_TRUE(screen.contains(rows)) << where;
        EXPECT_EQ(over.isEmpty(), zoom < 3) << where;
        const int keysBottom = window->panel()->mapToGlobal(QPoint(0, kKeysBottom * zoom)).y();
        EXPECT_TRUE(over.isEmpty() || over.top() > keysBottom) << where;
    }
}

TEST_F(MonitorWindowTest, BesideThePanelTheLongestReasonsForAnErrorStandWhole)
{
    Open();
    const auto& window = window_;
    ProtocolMonitor& monitor = *monitor_;
    LinkTaps& taps = taps_;
    const auto feed = [&](const Bytes& bytes) {
        rig.queue.Feed(bytes);
        while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
        engine.Tick();
    };
    const auto quiet = [&](std::uint32_t ms) {
        rig.clock.Advance(ms);
        engine.Tick();
    };
    // A block longer than the receive buffer, answered after the quiet
    // that follows; then half a frame and silence.
    feed(EncodeBlock(std::vector<FrameContent>(31, FrameContent{kReadSwitches, {0}})));
    quiet(200);
    feed(Bytes{kReadSwitches, 1});
    quiet(11000);
    taps.log().Flush();

    for (int zoom = PanelWidget::kMinZoom; zoom <= window->LargestZoomThatFits(); ++zoom) {
        window->SetZoom(zoom);
        emit window->protocolMonitorRequested();
        const QTableView& view = *monitor.view();
        QStyleOptionViewItem option;
        option.initFrom(view.viewport());
        option.font = view.font();
        option.fontMetrics = view.fontMetrics();
        const int shown = view.viewport()->width() - view.columnViewportPosition(MonitorLog::kErrorColumn);
        QStringList reasons;
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            const QModelIndex cell = view.model()->index(row, MonitorLog::kErrorColumn);
            if (!cell.data().toString().isEmpty()) {
                reasons << cell.data().toString();
                EXPECT_GE(shown, view.itemDelegate()->sizeHint(option, cell).width())
                    << zoom << "x, cut: " << cell.data().toString().toStdString();
            }
        }
        for (const char* reason :
             {"overflow: more than 120 bytes in one block", "receive error answered after 120 ms of quiet",
              "no byte for 10 s: Communications Error"}) {
            EXPECT_TRUE(reasons.contains(QString::fromLatin1(reason)))
                << reason << " among " << reasons.join(QStringLiteral(" | ")).toStdString();
        }
        monitor.close();
    }
}

} // namespace
} // namespace quillon::testing
