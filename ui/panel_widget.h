#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include <QEvent>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include "host/panel_host.h"
#include "host/picture.h"
#include "link/panel_engine.h"

namespace quillon {

// The display's two colours. The first theme is the panel's own yellow-green
// LCD, in the colours of the runner's screenshots and the display's film; the
// others only change how the same pixels look on the desktop.
struct DisplayTheme {
    // How the theme is stored in the settings.
    const char* key;
    // The View menu's text.
    const char* name;
    QRgb ink;
    QRgb background;
};

inline constexpr std::array<DisplayTheme, 5> kDisplayThemes{{
    {"lcd", "&Yellow-green LCD", qRgb(kInk.red, kInk.green, kInk.blue),
     qRgb(kBackground.red, kBackground.green, kBackground.blue)},
    {"blue", "&Blue LCD, white on blue", qRgb(236, 242, 255), qRgb(28, 64, 196)},
    {"oled", "&White on black OLED", qRgb(232, 240, 255), qRgb(0, 0, 0)},
    {"amber", "&Amber on black", qRgb(255, 176, 0), qRgb(24, 14, 0)},
    {"print", "Black on white for &print", qRgb(0, 0, 0), qRgb(255, 255, 255)},
}};

// The panel front: the panel picture with the engine's display memory painted
// into its display window, left-button presses on the four keys (and the
// arrow keys of the keyboard) reported to the engine's key latch, and the
// engine ticked from a 10 ms timer.
//
// The picture is repainted synchronously after the column runs of each
// engine step, right after the step's reply has been written, so the window
// shows at every moment what the panel's own display would. It is
// shown magnified by a whole number: the front as drawn at that size, each
// display pixel a sharp square.
class PanelWidget final : public QWidget, public RunListener {
    Q_OBJECT

public:
    static constexpr QSize kPanelSize{302, 305};
    // Where the 128 x 64 display sits in the panel picture.
    static constexpr QRect kDisplayRect{80, 118, kDisplayWidth, kDisplayHeight};
    static constexpr QRgb kDisplayBackground = kDisplayThemes[0].background;
    static constexpr QRgb kDisplayInk = kDisplayThemes[0].ink;
    static constexpr int kTimerPeriodMs = PanelEngine::kTickPeriodMs;
    static constexpr int kMinZoom = 1;
    static constexpr int kMaxZoom = 4;

    // Posted from the reader thread when a block waits to be answered.
    static const QEvent::Type kBlockCompleteEvent;

    explicit PanelWidget(PanelHost& host, QWidget* parent = nullptr);
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

    // Magnifies the picture, key areas included; kept within 1 to 4.
    void SetZoom(int zoom);
    int zoom() const { return zoom_; }
    // The lowest row of the keys, in the widget's rows at its zoom.
    int KeysBottom() const;
    // Repaints the whole display in the theme's colours.
    void SetTheme(const DisplayTheme& theme);
    const DisplayTheme& theme() const { return theme_; }
    // The display alone, in the theme's colours, each pixel scale x scale.
    QImage DisplayImage(int scale) const;

    // Marks those display pixels over the picture (nothing when empty); the
    // display memory and the panel picture stay as they are. A run drawn
    // over marked pixels takes the mark away.
    void SetHighlight(const std::optional<DisplayRect>& area);

    PanelEngine& engine() const { return engine_; }
    // The panel picture at 1:1, display included.
    const QImage& panelImage() const { return panelImage_; }
    bool IsTimerRunning() const { return timerId_ != 0; }

signals:
    // The display pixel under the pointer, each time it changes: x 0..127,
    // y 0..63, or (-1, -1) once the pointer has left the display.
    void displayPixelHovered(int x, int y);
    // A run has been drawn over the marked pixels and the mark is gone.
    void highlightDropped();
    // The engine's line has ended (a recording played to its end), or a
    // line that goes on has taken its place.
    void lineEndedChanged(bool ended);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void LoadPanelImage();
    // The panel front drawn at the zoom, without the display; none at 1x.
    void LoadZoomedFront();
    // Paints that part of the display memory into the panel picture.
    void PaintDisplay(const DisplayRect& area);
    void RepaintDisplay();
    // Ticks or answers with the engine, the display repainted after it.
    void RunEngine(const std::function<void()>& step);
    // The picture pixel under a point of the widget.
    QPoint PicturePoint(QPointF position) const;
    // A rectangle of picture pixels in widget coordinates.
    QRect WidgetRect(const QRect& pictureRect) const;
    // The widget area the highlight covers, its outline included.
    QRect HighlightArea() const;
    void Hover(QPoint displayPixel);
    // Draws the key with these bits pressed (0: every key released).
    void ShowHeld(std::uint8_t bits);

    PanelHost& host_;
    PanelEngine& engine_;
    QImage panelImage_;
    QImage zoomedFront_;
    int timerId_ = 0;
    int zoom_ = kMinZoom;
    DisplayTheme theme_ = kDisplayThemes[0];
    std::optional<DisplayRect> highlight_;
    QPoint hovered_{-1, -1};
    // The keyboard key whose press is latched, so that letting go of a key
    // that another has replaced releases nothing.
    int heldKeyboardKey_ = 0;
    // The key drawn pressed: the one the mouse button or keyboard holds.
    std::uint8_t shownHeld_ = 0;
    // Inside an engine step, and runs painted in it wait for its end.
    bool runningEngine_ = false;
    bool displayDirty_ = false;
    bool lineEnded_ = false;
};

} // namespace quillon
