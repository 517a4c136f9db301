#pragma once

#include <QEvent>
#include <QImage>
#include <QRect>
#include <QWidget>

#include "link/panel_engine.h"

namespace quillon {

// The panel front: the panel picture with the engine's display memory painted
// into its display window, left-button presses on the four keys reported to
// the engine's key latch, and the engine ticked from a 10 ms timer.
//
// The picture is repainted synchronously after every column run, so the
// window shows at every moment what the panel's own display would.
class PanelWidget final : public QWidget, public RunListener {
    Q_OBJECT

public:
    static constexpr QSize kPanelSize{302, 305};
    // Where the 128 x 64 display sits in the panel picture.
    static constexpr QRect kDisplayRect{80, 118, kDisplayWidth, kDisplayHeight};
    static constexpr QRgb kDisplayBackground = qRgb(188, 225, 101);
    static constexpr QRgb kDisplayInk = qRgb(0, 0, 0);
    static constexpr int kTimerPeriodMs = PanelEngine::kTickPeriodMs;

    // Posted from the reader thread when a block waits to be answered.
    static const QEvent::Type kBlockCompleteEvent;

    explicit PanelWidget(PanelEngine& engine, QWidget* parent = nullptr);
    // Stops the reader thread, whose wake posts to this widget.
    ~PanelWidget() override;
    PanelWidget(const PanelWidget&) = delete;
    PanelWidget& operator=(const PanelWidget&) = delete;

    // Called once, before the window is first shown: starts the reader
    // thread and the timer, and draws the start-up screen. Unless the engine
    // leaves replies to the tick, a complete block is answered as soon as
    // the reader reports it.
    void StartLink();

    void RunWritten(const DisplayRect& area) override;

    PanelEngine& engine() const { return engine_; }
    const QImage& panelImage() const { return panelImage_; }
    bool IsTimerRunning() const { return timerId_ != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void LoadPanelImage();
    // Paints that part of the display memory into the panel picture.
    void PaintDisplay(const DisplayRect& area);

    PanelEngine& engine_;
    QImage panelImage_;
    int timerId_ = 0;
};

} // namespace quillon
