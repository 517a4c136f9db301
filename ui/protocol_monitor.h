#pragma once

#include <array>
#include <optional>

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include "display/display_memory.h"
#include "ui/monitor_log.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace quillon {

class MainWindow;

// Where the monitor opens, frames included, always within the available
// area: beside the main window's frame on the first side with room for its
// least size, to the right, then the left, below, above; as wide and tall as
// wanted where it has room. Where no side has that room, against the edge of
// the side where it covers the least of the window.
QRect MonitorPlacement(const QRect& window, QSize wanted, QSize least, const QRect& available);

// The protocol monitor window: one row per frame in either direction,
// grouped by block, with filters, pause, clear, copy and save. Selecting a
// frame's row asks for the pixels it changed to be marked on the panel, and
// a display pixel pointed at is told by the frame that last wrote it.
class ProtocolMonitor final : public QWidget {
    Q_OBJECT

public:
    // display is the engine's display memory, read for the writer of a
    // pixel on the thread that ticks the engine, this one.
    ProtocolMonitor(MonitorLog& log, const DisplayMemory& display, QWidget* parent = nullptr);

    // Ties the monitor to the main window: its View menu entry opens it
    // beside the window, the selected frame is marked on its panel, the
    // pixel under the pointer is told while the monitor is open, and it
    // closes with the window.
    void Attach(MainWindow& window);
    // Shows the window beside the main window, or below it where the
    // screen has no room beside, within the screen; or raises it.
    void Open();

    // The window's controls, for the program and the tests alike.
    void SetErrorsOnly(bool errorsOnly);
    // A function code from 1 to 14, or nothing for every row.
    void SetCode(std::optional<int> code);
    void SetPaused(bool paused);
    void Clear();
    // The selected rows to the clipboard, as trace text lines.
    void CopyRows();
    // The rows shown as a text trace; false (with the reason in error) when
    // the file cannot be written.
    bool SaveText(const QString& path, QString& error) const;
    // Selects and shows the row with this number; false when it is not
    // shown.
    bool SelectRow(std::uint64_t number);
    // The writer of display pixel (x, y) in the status line; x or y below 0
    // clears it.
    void ShowPixelWriter(int x, int y);

    QTableView* view() const { return view_; }
    const MonitorFilter& shown() const { return filter_; }
    QString pixelText() const;
    // The status line's row counts.
    QString countsText() const;

signals:
    // The display pixels the selected frame changed, or nothing.
    void highlightChanged(const std::optional<DisplayRect>& area);

protected:
    void showEvent(QShowEvent* event) override;
    void TakeWhatTheColumnsLack();
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
    // Each column but the last as wide as a typical row's text in it (the
    // meaning of a text frame the widest), or its title.
    std::array<int, MonitorLog::kErrorColumn> TypicalColumnWidths() const;
    // The error column as wide as the longest reason the panel's own
    // receiver and time-outs give, or its title.
    int ErrorColumnWidth() const;
    int ErrorTitleWidth() const;
    // Wide enough for those columns and the error column.
    QSize DefaultSize() const;
    void ApplyColumnWidths();
    // Places and sizes the window beside the main window; the first time,
    // the bytes column and then the meaning give up what the screen cannot
    // hold, so that the errors stay whole.
    void Place();
    int LeastBytesWidth() const;
    // Tall enough for the controls and a few rows.
    // Where Place puts it, frames included: its least height first, fewer
    // rows where that height would cover the panel's keys.
    QRect PlaceClearOfKeys(QSize wanted, int leastWidth, int frameHeight) const;
    int LeastHeight(int rows) const;
    int CellMargin() const;
    void UpdateHighlight();
    void EmitHighlight(const std::optional<DisplayRect>& area);
    void UpdateCounts();
    void OnSaveAs();

    MonitorLog& log_;
    const DisplayMemory& display_;
    MonitorFilter filter_;
    QCheckBox* errorsOnly_ = nullptr;
    QComboBox* code_ = nullptr;
    QPushButton* pause_ = nullptr;
    QTableView* view_ = nullptr;
    QLabel* counts_ = nullptr;
    int countsWidth_ = 0;
    // What the last note of the port said of it, once one has.
    std::optional<PortChange> portState_;
    QLabel* pixel_ = nullptr;
    std::optional<DisplayRect> highlight_;
    // The column widths to give the view when it is shown again.
    std::array<int, MonitorLog::kErrorColumn> columnWidths_{};
    // Closed since it was shown: the widths are the user's from then on.
    bool shownBefore_ = false;
    MainWindow* window_ = nullptr;
    // The view was scrolled to its last row when rows came: it follows them.
    bool following_ = true;
};

} // namespace quillon
