#include "ui/corvane_view.h"

#include <array>
#include <cstring>

#include <QMouseEvent>
#include <QPainter>

namespace quillon {

namespace {

// One key area of the panel picture; bounds are inclusive.
struct KeyArea {
    int left;
    int right;
    int top;
    int bottom;
    std::uint8_t bits;
};

// In hit-test order. The two halves of the round middle key leave row 218
// between them, which belongs to neither.
constexpr std::array<KeyArea, 4> kKeyAreas{{
    {74, 110, 199, 220, 2},  // left key
    {174, 210, 199, 220, 1}, // right key
    {122, 158, 202, 217, 4}, // middle key, upper half (up arrow)
    {122, 158, 219, 237, 8}, // middle key, lower half (down arrow)
}};

constexpr QPoint kDisplayOrigin{80, 118};
constexpr QSize kDisplaySize{128, 64};

} // namespace

CCorvaneView::CCorvaneView(CCorvaneDoc* document, LinkState& state, PanelPort& port, Clock& clock, QWidget* parent)
    : QWidget(parent), document_(document), displayRect_(kDisplayOrigin, kDisplaySize), link_(state, *this, port, clock)
{
    setFixedSize(kPanelSize);
    // The view paints every pixel from the panel image, so the background is
    // never erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CCorvaneView::OnInitialUpdate()
{
    LoadPanelImage();
    clientRect_ = rect();
    CreateDisplayImage();
    link_.StartReceiveThread();
    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
    link_.ShowStartupScreen();
}

void CCorvaneView::LoadPanelImage()
{
    panelImage_ = QImage(QStringLiteral(":/panel.png")).convertToFormat(QImage::Format_RGB32);
    if (panelImage_.size() != kPanelSize) {
        // Runs are copied into the panel image without further checks, so it
        // must always have the picture's size.
        panelImage_ = QImage(kPanelSize, QImage::Format_RGB32);
        panelImage_.fill(Qt::white);
    }
}

void CCorvaneView::CreateDisplayImage()
{
    displayImage_ = QImage(kDisplaySize, QImage::Format_RGB32);
    displayImage_.fill(kDisplayBackground);
}

void CCorvaneView::DrawColumnRun(const DrawRequest& request)
{
    // Pixel by pixel, one pixel row of the page at a time: a run is written
    // on every tick, and setPixel's per-call checks cost more than the pixels.
    for (int j = 0; j < 8; ++j) {
        auto* row = reinterpret_cast<QRgb*>(displayImage_.scanLine(request.topRow + j));
        for (int i = 0; i < request.length; ++i) {
            const bool set = ((request.bytes[i] >> j) & 1) != 0;
            row[request.startColumn + i] = set ? kDisplayInk : kDisplayBackground;
        }
    }
    const auto rowBytes = static_cast<std::size_t>(kDisplaySize.width()) * sizeof(QRgb);
    for (int y = 0; y < kDisplaySize.height(); ++y) {
        std::memcpy(panelImage_.scanLine(displayRect_.top() + y) + displayRect_.left() * sizeof(QRgb),
                    displayImage_.constScanLine(y), rowBytes);
    }
}

void CCorvaneView::RepaintNow()
{
    // A run changes nothing outside the display window, so only that part of
    // the picture goes to the screen; the window shows the same as after a
    // repaint of the whole view, at a fraction of the cost.
    repaint(displayRect_);
}

void CCorvaneView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = event->rect() & QRect(0, 0, clientRect_.width(), clientRect_.height());
    painter.drawImage(area.topLeft(), panelImage_, area);
}

void CCorvaneView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        OnLButtonDown(event->position().toPoint());
    }
    QWidget::mousePressEvent(event);
}

void CCorvaneView::mouseReleaseEvent(QMouseEvent* event)
{
    // The toolkit delivers the release to the pressed widget even when the
    // pointer has left it; the panel only hears a release over itself, so a
    // key let go outside the window stays latched until the next release.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        OnLButtonUp();
    }
    QWidget::mouseReleaseEvent(event);
}

void CCorvaneView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is not a key press. The base class
    // would turn it into one.
    event->ignore();
}

void CCorvaneView::timerEvent(QTimerEvent* event)
{
    link_.LinkTick();
    QWidget::timerEvent(event);
}

void CCorvaneView::OnLButtonDown(QPoint point)
{
    keyReleased_ = false;
    for (const KeyArea& area : kKeyAreas) {
        if (point.x() >= area.left && point.x() <= area.right && point.y() >= area.top && point.y() <= area.bottom) {
            keyBits_ = area.bits;
            return;
        }
    }
}

void CCorvaneView::OnLButtonUp()
{
    keyReleased_ = true;
}

} // namespace quillon
