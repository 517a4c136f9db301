#pragma once

#include <optional>

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
    // Shows the window to the right of the main window, or raises it.
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

signals:
    // The display pixels the selected frame changed, or nothing.
    void highlightChanged(const std::optional<DisplayRect>& area);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
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
    QLabel* pixel_ = nullptr;
    std::optional<DisplayRect> highlight_;
    MainWindow* window_ = nullptr;
    // The view was scrolled to its last row when rows came: it follows them.
    bool following_ = true;
};

} // namespace quillon
