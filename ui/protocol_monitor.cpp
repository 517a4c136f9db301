#include "ui/protocol_monitor.h"

#include <algorithm>
#include <array>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QStringList>
#include <QStyle>
#include <QTableView>
#include <QToolTip>
#include <QVBoxLayout>

#include "protocol/protocol.h"
#include "trace/frame_decoder.h"
#include "trace/trace_rows.h"
#include "ui/main_window.h"
#include "ui/panel_widget.h"

namespace quillon {

namespace {

constexpr int kDefaultHeight = 420;
// Where the window is narrower than the typical columns (beside the panel
// on a 1280-wide screen), the bytes column gives up room down to this many
// bytes, a frame's code, length and first data byte: the meaning tells the
// frame, and the cell's tooltip has every byte.
constexpr std::size_t kLeastBytesShown = 3;
// Where the window is lower than wanted (below a zoomed panel), it shows at
// least this many rows besides the least its controls take.
constexpr int kLeastRowsShown = 6;
constexpr int kFewestRowsShown = 3;

// A text frame as a device typically sends it, a menu line: what the
// columns are sized to hold when the window opens.
std::vector<std::uint8_t> TypicalFrame()
{
    static constexpr std::string_view kText = "Panel info";
    std::vector<std::uint8_t> data{4, 0x0B};
    data.insert(data.end(), kText.begin(), kText.end());
    return EncodeFrame(kWriteString, data);
}

// The reasons a row's error gives for the panel's own receiver and
// time-outs, each receive error bit alone: the column is sized to hold the
// longest whole.
QStringList StandardReasons()
{
    QStringList reasons;
    for (unsigned bit = 1; bit <= 0x80; bit <<= 1) {
        const std::string text = DescribeRxErrors(static_cast<std::uint8_t>(bit));
        if (!text.empty()) {
            reasons << QString::fromStdString(text);
        }
    }
    for (const LinkTimeout timeout : {LinkTimeout::ReceiveError, LinkTimeout::Silence}) {
        reasons << QString::fromStdString(TimeoutText(timeout));
    }
    return reasons;
}

QString CodeEntry(int code)
{
    const std::string_view name = FunctionName(static_cast<std::uint8_t>(code));
    return name.empty() ? QStringLiteral("%1 (no such command)").arg(code)
                        : QStringLiteral("%1 %2").arg(code).arg(QLatin1String(name.data(), name.size()));
}

// " (open)", " (not open)", " (hung up)".
QString PortStateText(PortChange state)
{
    switch (state) {
    case PortChange::Opened:
    case PortChange::OpenedAgain:
        return QStringLiteral(" (open)");
    case PortChange::OpenFailed:
        return QStringLiteral(" (not open)");
    case PortChange::HungUp:
        return QStringLiteral(" (hung up)");
    case PortChange::DeviceEnded:
        break;
    }
    return {};
}

QString CountsText(int shown, int held, std::size_t capacity)
{
    return QStringLiteral("%L1 of %L2 rows (the last %L3 are kept)").arg(shown).arg(held).arg(capacity);
}

} // namespace

ProtocolMonitor::ProtocolMonitor(MonitorLog& log, const DisplayMemory& display, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), display_(display), filter_(log)
{
    setWindowTitle(QStringLiteral("Protocol Monitor - Quillon"));
    BuildControls();
    resize(DefaultSize());

    connect(&filter_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = view_->verticalScrollBar();
        following_ = bar->value() == bar->maximum();
    });
    connect(&filter_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (following_) {
            view_->scrollToBottom();
        }
        UpdateCounts();
    });
    // The total counts every row, also while a filter shows none of those
    // that arrive; a note of the port says what became of it.
    connect(&log_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        for (int row = first; row <= last; ++row) {
            // The device's end leaves the port as it was.
            if (log_.RowAt(row).port && *log_.RowAt(row).port != PortChange::DeviceEnded) {
                portState_ = log_.RowAt(row).port;
            }
        }
        UpdateCounts();
    });
    connect(&log_, &QAbstractItemModel::rowsRemoved, this, &ProtocolMonitor::UpdateCounts);
    connect(&log_, &QAbstractItemModel::modelReset, this, &ProtocolMonitor::UpdateCounts);
    const auto resettle = [this] {
        UpdateCounts();
        UpdateHighlight();
    };
    connect(&filter_, &QAbstractItemModel::rowsRemoved, this, resettle);
    connect(&filter_, &QAbstractItemModel::modelReset, this, resettle);
    connect(&filter_, &QAbstractItemModel::layoutChanged, this, resettle);
    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &ProtocolMonitor::UpdateHighlight);
    UpdateCounts();
}

void ProtocolMonitor::Attach(MainWindow& window)
{
    window_ = &window;
    UpdateCounts();
    PanelWidget* panel = window.panel();
    connect(&window, &MainWindow::protocolMonitorRequested, this, &ProtocolMonitor::Open);
    connect(&window, &MainWindow::closed, this, &QWidget::close);
    // A panel grown or shrunk under an open monitor leaves it clear again.
    connect(&window, &MainWindow::zoomChanged, this, [this] {
        if (isVisible()) {
            Place();
        }
    });
    connect(this, &ProtocolMonitor::highlightChanged, panel, &PanelWidget::SetHighlight);
    // The mark went when its pixels were drawn over; the selected row stays,
    // and choosing a row marks again.
    connect(panel, &PanelWidget::highlightDropped, this, [this] { highlight_.reset(); });
    connect(panel, &PanelWidget::displayPixelHovered, this, [this, panel](int x, int y) {
        if (!isVisible()) {
            return;
        }
        ShowPixelWriter(x, y);
        if (x < 0) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(QCursor::pos(), pixelText(), panel);
        }
    });
}

QRect MonitorPlacement(const QRect& window, QSize wanted, QSize least, const QRect& available)
{
    const QSize size = wanted.boundedTo(available.size());
    least = least.boundedTo(size);
    // Each side in turn: the room between the window and the screen's edge,
    // the monitor's extent across it (its least when the room is smaller,
    // so it goes against the edge and over the window), and the rectangle.
    const auto beside = [&](int room, int wantedExtent, int leastExtent, bool acrossWidth, bool after) {
        const int extent = room >= leastExtent ? std::min(wantedExtent, room) : leastExtent;
        QRect placed(QPoint(), acrossWidth ? QSize(extent, size.height()) : QSize(size.width(), extent));
        const QPoint inside(std::clamp(window.left(), available.left(), available.right() + 1 - placed.width()),
                            std::clamp(window.top(), available.top(), available.bottom() + 1 - placed.height()));
        placed.moveTopLeft(inside);
        if (acrossWidth && after) {
            placed.moveLeft(std::min(window.right() + 1, available.right() + 1 - extent));
        } else if (acrossWidth) {
            placed.moveRight(std::max(window.left() - 1, available.left() + extent - 1));
        } else if (after) {
            placed.moveTop(std::min(window.bottom() + 1, available.bottom() + 1 - extent));
        } else {
            placed.moveBottom(std::max(window.top() - 1, available.top() + extent - 1));
        }
        return placed;
    };
    const std::array<QRect, 4> sides{
        beside(available.right() - window.right(), size.width(), least.width(), true, true),
        beside(window.left() - available.left(), size.width(), least.width(), true, false),
        beside(available.bottom() - window.bottom(), size.height(), least.height(), false, true),
        beside(window.top() - available.top(), size.height(), least.height(), false, false),
    };
    // The first side that leaves the window clear, else the one over the
    // least of it.
    const auto covered = [&](const QRect& placed) {
        const QRect over = placed & window;
        return static_cast<qint64>(over.width()) * over.height();
    };
    return *std::min_element(sides.begin(), sides.end(),
                             [&](const QRect& a, const QRect& b) { return covered(a) < covered(b); });
}

void ProtocolMonitor::Open()
{
    const bool place = !isVisible() && window_ != nullptr;
    if (place) {
        Place();
    }
    show();
    if (place) {
        // The window manager has framed it now, and the frame counts too.
        Place();
    }
    raise();
    activateWindow();
}

void ProtocolMonitor::Place()
{
    // Beside the window and as tall as it, however far it is zoomed, or
    // below it, as far as the screen has room.
    const QSize frame = frameGeometry().size() - size();
    const std::array<int, MonitorLog::kErrorColumn> typical = TypicalColumnWidths();
    const QSize wanted = QSize(DefaultSize().width(), std::max(kDefaultHeight, window_->height())) + frame;
    const int bytesGiven = typical[MonitorLog::kBytesColumn] - LeastBytesWidth();
    // The meaning gives up at most what the errors take beyond their title,
    // so the window finds its place where it found it for the title alone.
    const int meaningGiven = ErrorColumnWidth() - ErrorTitleWidth();
    const QRect placed = PlaceClearOfKeys(wanted, wanted.width() - bytesGiven - meaningGiven, frame.height());
    move(placed.topLeft());
    resize(placed.size() - frame);
    if (!shownBefore_) {
        const int shortfall = std::max(wanted.width() - placed.width(), 0);
        const int fromBytes = std::min(shortfall, bytesGiven);
        const int fromMeaning = std::min(shortfall - fromBytes, meaningGiven);
        columnWidths_[MonitorLog::kBytesColumn] = typical[MonitorLog::kBytesColumn] - fromBytes;
        columnWidths_[MonitorLog::kMeaningColumn] = typical[MonitorLog::kMeaningColumn] - fromMeaning;
        ApplyColumnWidths();
    }
}

QRect ProtocolMonitor::PlaceClearOfKeys(QSize wanted, int leastWidth, int frameHeight) const
{
    // Where no side has room and it goes over the panel, it shows fewer rows
    // rather than cover the keys, as long as a few rows are left to read.
    const PanelWidget& panel = *window_->panel();
    const int keysBottom = panel.mapToGlobal(QPoint(0, panel.KeysBottom())).y();
    QRect placed;
    for (int rows = kLeastRowsShown; rows >= kFewestRowsShown; --rows) {
        const QSize least(leastWidth, LeastHeight(rows) + frameHeight);
        placed = MonitorPlacement(window_->frameGeometry(), wanted, least, window_->screen()->availableGeometry());
        if (!placed.intersects(window_->frameGeometry()) || placed.top() > keysBottom) {
            break;
        }
    }
    return placed;
}

int ProtocolMonitor::LeastHeight(int rows) const
{
    return layout()->minimumSize().height() + rows * view_->verticalHeader()->defaultSectionSize();
}

int ProtocolMonitor::LeastBytesWidth() const
{
    const std::vector<std::uint8_t> least(kLeastBytesShown);
    return QFontMetrics(QFontDatabase::systemFont(QFontDatabase::FixedFont))
               .horizontalAdvance(QString::fromStdString(HexBytes(least))) +
           CellMargin();
}

int ProtocolMonitor::CellMargin() const
{
    // The item views' own room round a cell's text.
    return 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 1) + 4;
}

std::array<int, MonitorLog::kErrorColumn> ProtocolMonitor::TypicalColumnWidths() const
{
    const std::vector<std::uint8_t> frame = TypicalFrame();
    const std::array<QString, MonitorLog::kErrorColumn> texts{
        QStringLiteral("99999.999"),
        QStringLiteral("00:00:00.000"),
        QStringLiteral("device → panel"),
        QStringLiteral("99999"),
        QString::fromStdString(HexBytes(frame)),
        QString::fromStdString(DescribeFrame(frame)),
    };
    const int margin = CellMargin();
    const QFontMetrics plain = view_->fontMetrics();
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QHeaderView* header = view_->horizontalHeader();
    std::array<int, MonitorLog::kErrorColumn> widths{};
    for (int column = 0; column < MonitorLog::kErrorColumn; ++column) {
        const QFontMetrics& metrics = column == MonitorLog::kBytesColumn ? fixed : plain;
        const int text = metrics.horizontalAdvance(texts[static_cast<std::size_t>(column)]);
        const int title =
            header->fontMetrics().horizontalAdvance(log_.headerData(column, Qt::Horizontal).toString()) + 2 * margin;
        widths[static_cast<std::size_t>(column)] = std::max(text + margin, title);
    }
    // What a frame means is what the monitor is read for.
    int& meaning = widths[MonitorLog::kMeaningColumn];
    meaning = std::max(meaning, *std::max_element(widths.begin(), widths.end()));
    return widths;
}

int ProtocolMonitor::ErrorTitleWidth() const
{
    return view_->horizontalHeader()->fontMetrics().horizontalAdvance(
               log_.headerData(MonitorLog::kErrorColumn, Qt::Horizontal).toString()) +
           2 * CellMargin();
}

int ProtocolMonitor::ErrorColumnWidth() const
{
    int widest = 0;
    for (const QString& reason : StandardReasons()) {
        widest = std::max(widest, view_->fontMetrics().horizontalAdvance(reason));
    }
    return std::max(widest + CellMargin(), ErrorTitleWidth());
}

QSize ProtocolMonitor::DefaultSize() const
{
    int width = view_->verticalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("9999999")) +
                view_->verticalScrollBar()->sizeHint().width() + 2 * view_->frameWidth();
    for (const int column : TypicalColumnWidths()) {
        width += column;
    }
    const QMargins margins = layout()->contentsMargins();
    return {width + ErrorColumnWidth() + margins.left() + margins.right(), kDefaultHeight};
}

void ProtocolMonitor::ApplyColumnWidths()
{
    for (int column = 0; column < MonitorLog::kErrorColumn; ++column) {
        view_->setColumnWidth(column, columnWidths_[static_cast<std::size_t>(column)]);
    }
}

void ProtocolMonitor::BuildControls()
{
    errorsOnly_ = new QCheckBox(QStringLiteral("&Errors only"), this);
    connect(errorsOnly_, &QCheckBox::toggled, this, [this](bool on) { filter_.SetErrorsOnly(on); });

    code_ = new QComboBox(this);
    code_->addItem(QStringLiteral("All function codes"));
    for (int code = 1; code <= kHighestFunctionCode; ++code) {
        code_->addItem(CodeEntry(code), code);
    }
    connect(code_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant code = code_->itemData(index);
        filter_.SetCode(code.isValid() ? std::optional<int>(code.toInt()) : std::nullopt);
    });

    pause_ = new QPushButton(QStringLiteral("&Pause"), this);
    pause_->setCheckable(true);
    connect(pause_, &QPushButton::toggled, this, [this](bool on) { log_.SetPaused(on); });
    auto* clear = new QPushButton(QStringLiteral("C&lear"), this);
    connect(clear, &QPushButton::clicked, this, &ProtocolMonitor::Clear);
    auto* copy = new QPushButton(QStringLiteral("&Copy"), this);
    connect(copy, &QPushButton::clicked, this, &ProtocolMonitor::CopyRows);
    auto* save = new QPushButton(QStringLiteral("&Save As..."), this);
    connect(save, &QPushButton::clicked, this, &ProtocolMonitor::OnSaveAs);

    auto* controls = new QHBoxLayout;
    controls->addWidget(errorsOnly_);
    controls->addWidget(code_);
    controls->addStretch();
    for (QPushButton* button : {pause_, clear, copy, save}) {
        button->setAutoDefault(false);
        controls->addWidget(button);
    }

    view_ = new QTableView(this);
    view_->setModel(&filter_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setWordWrap(false);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Rows of one height keep a view of 100,000 rows as quick as one of ten.
    QHeaderView* rows = view_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    rows->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    view_->horizontalHeader()->setStretchLastSection(true);
    auto* copyKey = new QAction(this);
    copyKey->setShortcut(QKeySequence::Copy);
    copyKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyKey, &QAction::triggered, this, &ProtocolMonitor::CopyRows);
    view_->addAction(copyKey);

    counts_ = new QLabel(this);
    // As wide as its widest text, so a new count never lays the window out
    // again.
    const int most = static_cast<int>(log_.capacity());
    countsWidth_ = counts_->fontMetrics().horizontalAdvance(CountsText(most, most, log_.capacity())) + 8;
    counts_->setFixedWidth(countsWidth_);
    pixel_ = new QLabel(this);
    pixel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long meaning wraps rather than widening the window past the screen.
    pixel_->setWordWrap(true);
    auto* status = new QHBoxLayout;
    status->addWidget(counts_);
    status->addWidget(pixel_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);
    layout->addLayout(status);
    columnWidths_ = TypicalColumnWidths();
}

void ProtocolMonitor::SetErrorsOnly(bool errorsOnly)
{
    errorsOnly_->setChecked(errorsOnly);
}

void ProtocolMonitor::SetCode(std::optional<int> code)
{
    code_->setCurrentIndex(code ? std::max(code_->findData(*code), 0) : 0);
}

void ProtocolMonitor::SetPaused(bool paused)
{
    pause_->setChecked(paused);
}

void ProtocolMonitor::Clear()
{
    log_.Clear();
}

void ProtocolMonitor::CopyRows()
{
    QModelIndexList selected = view_->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end());
    QString text;
    for (const QModelIndex& index : selected) {
        text += QString::fromStdString(FormatTextRow(filter_.RowAt(index.row()))) + QLatin1Char('\n');
    }
    QApplication::clipboard()->setText(text);
}

bool ProtocolMonitor::SaveText(const QString& path, QString& error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
        return false;
    }
    for (int row = 0; row < filter_.rowCount(); ++row) {
        file.write(QByteArray::fromStdString(FormatTextRow(filter_.RowAt(row))));
        file.write("\n");
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void ProtocolMonitor::OnSaveAs()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save the rows shown"), QStringLiteral("quillon-trace.txt"),
                                     QStringLiteral("Text trace (*.txt);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !SaveText(path, error)) {
        QMessageBox::warning(this, QStringLiteral("Quillon"), QStringLiteral("Cannot save %1: %2").arg(path, error));
    }
}

bool ProtocolMonitor::SelectRow(std::uint64_t number)
{
    log_.Flush();
    const std::optional<int> row = log_.RowOfNumber(number);
    const QModelIndex shown = row ? filter_.mapFromSource(log_.index(*row, 0)) : QModelIndex();
    if (!shown.isValid()) {
        return false;
    }
    view_->setCurrentIndex(shown);
    view_->scrollTo(shown, QAbstractItemView::PositionAtCenter);
    return true;
}

void ProtocolMonitor::ShowPixelWriter(int x, int y)
{
    if (x < 0 || y < 0 || x >= kDisplayWidth || y >= kDisplayHeight) {
        pixel_->clear();
        return;
    }
    const std::uint32_t writer = display_.Writer(y / kRowsPerPage, x);
    pixel_->setText(QStringLiteral("Pixel %1, %2: %3").arg(x).arg(y).arg(log_.DescribeWriter(writer)));
}

QString ProtocolMonitor::pixelText() const
{
    return pixel_->text();
}

QString ProtocolMonitor::countsText() const
{
    return counts_->text();
}

void ProtocolMonitor::UpdateHighlight()
{
    const QModelIndex current = view_->currentIndex();
    std::optional<DisplayRect> area;
    if (current.isValid() && isVisible()) {
        const TraceRow& row = filter_.RowAt(current.row());
        if (row.kind == TraceKind::Frame && !row.changed.empty()) {
            area = row.changed;
        }
    }
    EmitHighlight(area);
}

void ProtocolMonitor::EmitHighlight(const std::optional<DisplayRect>& area)
{
    if (area == highlight_) {
        return;
    }
    highlight_ = area;
    emit highlightChanged(area);
}

void ProtocolMonitor::UpdateCounts()
{
    // A line that is no port (the demo's, TCP, a recording) tells of none;
    // the port's name widens the counts only when it changes.
    QString port;
    if (window_ != nullptr && portState_) {
        port = QStringLiteral(" · %1%2").arg(window_->CurrentPort().Describe(), PortStateText(*portState_));
    }
    counts_->setFixedWidth(countsWidth_ + counts_->fontMetrics().horizontalAdvance(port));
    counts_->setText(CountsText(filter_.rowCount(), log_.rowCount(), log_.capacity()) + port);
}

void ProtocolMonitor::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    log_.Flush();
    // Taking in the log gives the view its columns afresh, at the toolkit's
    // default width: they get the widths they had, or the typical ones.
    filter_.SetFollowing(true);
    ApplyColumnWidths();
    if (!shownBefore_) {
        TakeWhatTheColumnsLack();
    }
    view_->scrollToBottom();
    UpdateHighlight();
}

void ProtocolMonitor::TakeWhatTheColumnsLack()
{
    // The view's own parts (row numbers, scroll bar, frame) are estimated
    // before a style has measured them, and some styles draw them wider: the
    // first window takes what the columns still lack, as far as the screen
    // has room.
    layout()->activate();
    int columns = 0;
    for (int column = 0; column <= MonitorLog::kErrorColumn; ++column) {
        columns += view_->columnWidth(column);
    }
    const int lacking = columns - view_->viewport()->width();
    const int room = screen()->availableGeometry().right() - frameGeometry().right();
    if (lacking > 0 && room > 0) {
        resize(width() + std::min(lacking, room), height());
        layout()->activate();
    }
}

void ProtocolMonitor::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    for (int column = 0; column < MonitorLog::kErrorColumn; ++column) {
        columnWidths_[static_cast<std::size_t>(column)] = view_->columnWidth(column);
    }
    shownBefore_ = true;
    filter_.SetFollowing(false);
    EmitHighlight(std::nullopt);
    pixel_->clear();
}

} // namespace quillon
