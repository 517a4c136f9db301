#include "ui/protocol_monitor.h"

#include <algorithm>
#include <array>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QToolTip>
#include <QVBoxLayout>

#include "protocol/protocol.h"
#include "ui/main_window.h"
#include "ui/panel_widget.h"

namespace quillon {

namespace {

constexpr QSize kDefaultSize{1100, 420};

// Initial widths of the columns; the error column takes what is left.
constexpr std::array<int, MonitorLog::kErrorColumn> kColumnWidths{75, 90, 105, 45, 200, 330};

QString CodeEntry(int code)
{
    const std::string_view name = FunctionName(static_cast<std::uint8_t>(code));
    return name.empty() ? QStringLiteral("%1 (no such command)").arg(code)
                        : QStringLiteral("%1 %2").arg(code).arg(QLatin1String(name.data(), name.size()));
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
    resize(kDefaultSize);

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
    PanelWidget* panel = window.panel();
    connect(&window, &MainWindow::protocolMonitorRequested, this, &ProtocolMonitor::Open);
    connect(&window, &MainWindow::closed, this, &QWidget::close);
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

void ProtocolMonitor::Open()
{
    if (!isVisible() && window_ != nullptr) {
        // Beside the window and as tall as it, however far it is zoomed.
        move(window_->frameGeometry().topRight() + QPoint(1, 0));
        resize(width(), std::max(kDefaultSize.height(), window_->height()));
    }
    show();
    raise();
    activateWindow();
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
    for (int column = 0; column < MonitorLog::kErrorColumn; ++column) {
        view_->setColumnWidth(column, kColumnWidths[static_cast<std::size_t>(column)]);
    }
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
    counts_->setFixedWidth(counts_->fontMetrics().horizontalAdvance(CountsText(most, most, log_.capacity())) + 8);
    pixel_ = new QLabel(this);
    pixel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* status = new QHBoxLayout;
    status->addWidget(counts_);
    status->addWidget(pixel_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);
    layout->addLayout(status);
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
    counts_->setText(CountsText(filter_.rowCount(), log_.rowCount(), log_.capacity()));
}

void ProtocolMonitor::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    log_.Flush();
    filter_.SetFollowing(true);
    view_->scrollToBottom();
    UpdateHighlight();
}

void ProtocolMonitor::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    filter_.SetFollowing(false);
    EmitHighlight(std::nullopt);
    pixel_->clear();
}

} // namespace quillon
