#include "ui/panel_widget.h"

#include <array>

#include <QCoreApplication>
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
    {74, 110, 199, 220, kKeyLeft},
    {174, 210, 199, 220, kKeyRight},
    {122, 158, 202, 217, kKeyUp},
    {122, 158, 219, 237, kKeyDown},
}};

// The key bits of a press at point; 0 beside the keys.
std::uint8_t KeyAt(QPoint point)
{
    for (const KeyArea& area : kKeyAreas) {
        if (point.x() >= area.left && point.x() <= area.right && point.y() >= area.top && point.y() <= area.bottom) {
            return area.bits;
        }
    }
    return 0;
}

} // namespace

const QEvent::Type PanelWidget::kBlockCompleteEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

PanelWidget::PanelWidget(PanelEngine& engine, QWidget* parent) : QWidget(parent), engine_(engine)
{
    setFixedSize(kPanelSize);
    // The widget paints every pixel from the panel picture, so the background
    // is never erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    LoadPanelImage();
    PaintDisplay({0, 0, kDisplayWidth, kDisplayHeight});
    engine_.SetRunListener(this);
}

PanelWidget::~PanelWidget()
{
    engine_.Stop();
    engine_.SetWake({});
    engine_.SetRunListener(nullptr);
}

void PanelWidget::StartLink()
{
    if (!engine_.replyOnTick()) {
        engine_.SetWake([this] { QCoreApplication::postEvent(this, new QEvent(kBlockCompleteEvent)); });
    }
    engine_.Start();
    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
    engine_.ShowStartupScreen();
}

void PanelWidget::LoadPanelImage()
{
    panelImage_ = QImage(QStringLiteral(":/panel.png")).convertToFormat(QImage::Format_RGB32);
    if (panelImage_.size() != kPanelSize) {
        // The display is painted into the panel picture without further
        // checks, so it must always have the picture's size.
        panelImage_ = QImage(kPanelSize, QImage::Format_RGB32);
        panelImage_.fill(Qt::white);
    }
}

void PanelWidget::PaintDisplay(const DisplayRect& area)
{
    // A pixel row at a time through the scan line: runs are written on every
    // tick, and setPixel's per-call checks cost more than the pixels.
    const DisplayMemory& memory = engine_.display();
    for (int y = area.top; y < area.bottom; ++y) {
        const DisplayMemory::Page& page = memory.PageBytes(y / kRowsPerPage);
        const int bit = y % kRowsPerPage;
        auto* row = reinterpret_cast<QRgb*>(panelImage_.scanLine(kDisplayRect.top() + y)) + kDisplayRect.left();
        for (int x = area.left; x < area.right; ++x) {
            row[x] = ((page[x] >> bit) & 1) != 0 ? kDisplayInk : kDisplayBackground;
        }
    }
}

void PanelWidget::RunWritten(const DisplayRect& area)
{
    PaintDisplay(area);
    // A run changes nothing outside the display window, so only that part of
    // the picture goes to the screen.
    repaint(kDisplayRect);
}

void PanelWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = event->rect() & rect();
    painter.drawImage(area.topLeft(), panelImage_, area);
}

void PanelWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        engine_.keys().Press(KeyAt(event->position().toPoint()));
    }
    QWidget::mousePressEvent(event);
}

void PanelWidget::mouseReleaseEvent(QMouseEvent* event)
{
    // The toolkit delivers the release to the pressed widget even when the
    // pointer has left it; the panel only hears a release over itself, so a
    // key let go outside the window stays latched until the next release.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        engine_.keys().Release();
    }
    QWidget::mouseReleaseEvent(event);
}

void PanelWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is not a key press. The base class
    // would turn it into one.
    event->ignore();
}

void PanelWidget::timerEvent(QTimerEvent* event)
{
    engine_.Tick();
    QWidget::timerEvent(event);
}

void PanelWidget::customEvent(QEvent* event)
{
    if (event->type() == kBlockCompleteEvent) {
        engine_.AnswerCompleteBlock();
    }
}

} // namespace quillon
