#include "ui/panel_widget.h"

#include <algorithm>
#include <cmath>

#include <QCoreApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QTransform>

namespace quillon {

namespace {

// One key area of the panel picture; bounds are inclusive.
struct KeyArea {
    int left;
    int right;
    int top;
    int bottom;
    std::uint8_t bits;
    // The keyboard key that presses it, and the tooltip that says so.
    Qt::Key keyboardKey;
    const char* toolTip;
};

// In hit-test order. The two halves of the round middle key leave row 218
// between them, which belongs to neither.
constexpr std::array<KeyArea, 4> kKeyAreas{{
    {74, 110, 199, 220, kKeyLeft, Qt::Key_Left, "Left key (keyboard: Left arrow)"},
    {174, 210, 199, 220, kKeyRight, Qt::Key_Right, "Right key (keyboard: Right arrow)"},
    {122, 158, 202, 217, kKeyUp, Qt::Key_Up, "Up, the upper half of the middle key (keyboard: Up arrow)"},
    {122, 158, 219, 237, kKeyDown, Qt::Key_Down, "Down, the lower half of the middle key (keyboard: Down arrow)"},
}};

// The key area at a point of the picture; null beside the keys.
const KeyArea* KeyAt(QPoint point)
{
    for (const KeyArea& area : kKeyAreas) {
        if (point.x() >= area.left && point.x() <= area.right && point.y() >= area.top && point.y() <= area.bottom) {
            return &area;
        }
    }
    return nullptr;
}

// The key bits of a keyboard key; 0 for any other key, and for an arrow
// held with a modifier, which belongs to the menus' shortcuts.
std::uint8_t KeyBitsOf(const QKeyEvent& event)
{
    if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        return 0;
    }
    for (const KeyArea& area : kKeyAreas) {
        if (event.key() == area.keyboardKey) {
            return area.bits;
        }
    }
    return 0;
}

DisplayRect Intersection(const DisplayRect& a, const DisplayRect& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// The highlight: a translucent wash over the marked pixels and a line round
// them, in a colour that no display theme uses.
const QColor kHighlightFill(255, 0, 160, 96);
const QColor kHighlightEdge(255, 0, 160);

// A held key sinks: its area is shaded, the picture inside it drawn one
// picture pixel lower and further right, clipped to the area.
const QColor kHeldShade(0, 0, 0, 80);

// The key area with these bits; null for none.
const KeyArea* AreaOf(std::uint8_t bits)
{
    const auto found =
        std::find_if(kKeyAreas.begin(), kKeyAreas.end(), [bits](const KeyArea& area) { return area.bits == bits; });
    return found != kKeyAreas.end() ? &*found : nullptr;
}

QRect AreaRect(const KeyArea& area)
{
    return {QPoint(area.left, area.top), QPoint(area.right, area.bottom)};
}

// The outline of a key within its area, in picture pixels: the round middle
// key's half, or a rounded square key.
QPainterPath HeldOutline(const KeyArea& area)
{
    const QRectF key(AreaRect(area).topLeft(), AreaRect(area).size());
    QPainterPath outline;
    if (area.bits == kKeyUp || area.bits == kKeyDown) {
        const QRectF middle(AreaRect(*AreaOf(kKeyUp)).topLeft(),
                            AreaRect(*AreaOf(kKeyDown)).bottomRight() + QPoint(1, 1));
        outline.addEllipse(middle);
        QPainterPath half;
        half.addRect(key);
        return outline.intersected(half);
    }
    outline.addRoundedRect(key, 5, 5);
    return outline;
}

} // namespace

const QEvent::Type PanelWidget::kBlockCompleteEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

PanelWidget::PanelWidget(PanelHost& host, QWidget* parent) : QWidget(parent), host_(host), engine_(host.engine())
{
    setFixedSize(kPanelSize);
    // The widget paints every pixel from the panel picture, so the background
    // is never erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Pointer moves over the display are reported without a button held.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    LoadPanelImage();
    PaintDisplay({0, 0, kDisplayWidth, kDisplayHeight});
    engine_.SetRunListener(this);
}

PanelWidget::~PanelWidget()
{
    engine_.Stop();
    host_.SetWake({});
    engine_.SetRunListener(nullptr);
}

void PanelWidget::StartLink()
{
    // Woken for a complete block (unless the engine answers on its tick)
    // and for work posted to the host.
    host_.SetWake([this] { QCoreApplication::postEvent(this, new QEvent(kBlockCompleteEvent)); });
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

void PanelWidget::LoadZoomedFront()
{
    if (zoom_ == kMinZoom) {
        zoomedFront_ = QImage();
        return;
    }
    zoomedFront_ = QImage(QStringLiteral(":/panel-%1x.png").arg(zoom_)).convertToFormat(QImage::Format_RGB32);
    if (zoomedFront_.size() != kPanelSize * zoom_) {
        // Without its own picture the zoom shows the 1x one magnified.
        zoomedFront_ = panelImage_.scaled(kPanelSize * zoom_, Qt::IgnoreAspectRatio, Qt::FastTransformation);
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
            row[x] = ((page[x] >> bit) & 1) != 0 ? theme_.ink : theme_.background;
        }
    }
}

void PanelWidget::RunWritten(const DisplayRect& area)
{
    PaintDisplay(area);
    // Marked pixels drawn over show something else now: a mark left on them
    // would look like display content.
    if (highlight_ && !Intersection(*highlight_, area).empty()) {
        SetHighlight(std::nullopt);
        emit highlightDropped();
    }
    if (runningEngine_) {
        displayDirty_ = true;
    } else {
        RepaintDisplay();
    }
}

void PanelWidget::RepaintDisplay()
{
    displayDirty_ = false;
    // A run changes nothing outside the display window, so only that part of
    // the picture goes to the screen.
    repaint(WidgetRect(kDisplayRect) | HighlightArea());
}

void PanelWidget::RunEngine(const std::function<void()>& step)
{
    // The runs of a block are shown once its reply has gone out, so the
    // device never waits for the screen; the repaint follows at once.
    runningEngine_ = true;
    step();
    runningEngine_ = false;
    if (displayDirty_) {
        RepaintDisplay();
    }
    if (engine_.lineEnded() != lineEnded_) {
        lineEnded_ = !lineEnded_;
        emit lineEndedChanged(lineEnded_);
    }
}

void PanelWidget::SetZoom(int zoom)
{
    const int clamped = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (clamped == zoom_) {
        return;
    }
    zoom_ = clamped;
    LoadZoomedFront();
    setFixedSize(kPanelSize * zoom_);
    update();
}

int PanelWidget::KeysBottom() const
{
    const auto lowest = std::max_element(kKeyAreas.begin(), kKeyAreas.end(),
                                         [](const KeyArea& a, const KeyArea& b) { return a.bottom < b.bottom; });
    return (lowest->bottom + 1) * zoom_ - 1;
}

void PanelWidget::SetTheme(const DisplayTheme& theme)
{
    theme_ = theme;
    PaintDisplay({0, 0, kDisplayWidth, kDisplayHeight});
    update(WidgetRect(kDisplayRect));
}

QImage PanelWidget::DisplayImage(int scale) const
{
    const QImage display = panelImage_.copy(kDisplayRect);
    return display.scaled(display.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void PanelWidget::SetHighlight(const std::optional<DisplayRect>& area)
{
    const QRect before = HighlightArea();
    highlight_ = area && !area->empty() ? area : std::nullopt;
    update(before | HighlightArea());
}

QPoint PanelWidget::PicturePoint(QPointF position) const
{
    return {static_cast<int>(std::floor(position.x() / zoom_)), static_cast<int>(std::floor(position.y() / zoom_))};
}

QRect PanelWidget::WidgetRect(const QRect& pictureRect) const
{
    return {pictureRect.topLeft() * zoom_, pictureRect.size() * zoom_};
}

QRect PanelWidget::HighlightArea() const
{
    if (!highlight_) {
        return {};
    }
    const QRect pixels = QRect(kDisplayRect.left() + highlight_->left, kDisplayRect.top() + highlight_->top,
                               highlight_->width(), highlight_->height()) &
                         kDisplayRect;
    if (pixels.isEmpty()) {
        return {};
    }
    return WidgetRect(pixels).adjusted(-1, -1, 1, 1);
}

void PanelWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    // The picture pixels under the area, each drawn as a zoom x zoom square.
    // Without smooth transformation the painter samples the nearest pixel,
    // also where a high-DPI screen scales once more, so nothing is blurred.
    const QRect area = event->rect() & rect();
    const QRect source =
        QRect(PicturePoint(area.topLeft()), PicturePoint(area.bottomRight())) & QRect(QPoint(0, 0), kPanelSize);
    if (zoomedFront_.isNull()) {
        painter.drawImage(WidgetRect(source), panelImage_, source);
    } else {
        // The front drawn at this zoom, and the display window over it from
        // the 1x picture, each display pixel a square.
        painter.drawImage(area, zoomedFront_, area);
        const QRect display = source & kDisplayRect;
        if (!display.isEmpty()) {
            painter.drawImage(WidgetRect(display), panelImage_, display);
        }
    }
    if (const KeyArea* held = AreaOf(shownHeld_)) {
        const QRect key = AreaRect(*held);
        const QRect shown = WidgetRect(key);
        const QImage& front = zoomedFront_.isNull() ? panelImage_ : zoomedFront_;
        const QRect from = zoomedFront_.isNull() ? key : shown;
        painter.save();
        painter.setClipRect(shown & area);
        painter.setClipPath(QTransform::fromScale(zoom_, zoom_).map(HeldOutline(*held)), Qt::IntersectClip);
        painter.drawImage(shown.translated(zoom_, zoom_), front, from);
        painter.fillRect(shown, kHeldShade);
        painter.restore();
    }
    if (const QRect edge = HighlightArea(); !edge.isEmpty()) {
        painter.fillRect(edge.adjusted(1, 1, -1, -1), kHighlightFill);
        painter.setPen(kHighlightEdge);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(edge.adjusted(0, 0, -1, -1));
    }
}

bool PanelWidget::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (const KeyArea* key = KeyAt(PicturePoint(help->pos()))) {
            const QRect area(QPoint(key->left, key->top), QPoint(key->right, key->bottom));
            QToolTip::showText(help->globalPos(), QString::fromUtf8(key->toolTip), this, WidgetRect(area));
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

void PanelWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const KeyArea* key = KeyAt(PicturePoint(event->position()));
        engine_.keys().Press(key != nullptr ? key->bits : 0);
        ShowHeld(key != nullptr ? key->bits : 0);
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
    // The button is up wherever it was let go: the key no longer looks held.
    if (event->button() == Qt::LeftButton && heldKeyboardKey_ == 0) {
        ShowHeld(0);
    }
    QWidget::mouseReleaseEvent(event);
}

void PanelWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is not a key press. The base class
    // would turn it into one.
    event->ignore();
}

void PanelWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = PicturePoint(event->position());
    Hover(kDisplayRect.contains(point) ? point - kDisplayRect.topLeft() : QPoint(-1, -1));
    QWidget::mouseMoveEvent(event);
}

void PanelWidget::leaveEvent(QEvent* event)
{
    Hover({-1, -1});
    QWidget::leaveEvent(event);
}

void PanelWidget::Hover(QPoint displayPixel)
{
    if (displayPixel != hovered_) {
        hovered_ = displayPixel;
        emit displayPixelHovered(hovered_.x(), hovered_.y());
    }
}

void PanelWidget::ShowHeld(std::uint8_t bits)
{
    if (bits == shownHeld_) {
        return;
    }
    for (const std::uint8_t key : {shownHeld_, bits}) {
        if (const KeyArea* area = AreaOf(key)) {
            update(WidgetRect(AreaRect(*area)));
        }
    }
    shownHeld_ = bits;
}

void PanelWidget::keyPressEvent(QKeyEvent* event)
{
    const std::uint8_t bits = KeyBitsOf(*event);
    if (bits == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A held key repeats its press; the panel's key stays down meanwhile, as
    // under a held mouse button.
    if (!event->isAutoRepeat()) {
        heldKeyboardKey_ = event->key();
        engine_.keys().Press(bits);
        ShowHeld(bits);
    }
    event->accept();
}

void PanelWidget::keyReleaseEvent(QKeyEvent* event)
{
    if (KeyBitsOf(*event) == 0) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    if (!event->isAutoRepeat() && event->key() == heldKeyboardKey_) {
        heldKeyboardKey_ = 0;
        engine_.keys().Release();
        ShowHeld(0);
    }
    event->accept();
}

void PanelWidget::focusOutEvent(QFocusEvent* event)
{
    // The key's release would go to whatever has the focus now and never
    // arrive here; let it go at once instead of leaving it down for good.
    if (heldKeyboardKey_ != 0) {
        heldKeyboardKey_ = 0;
        engine_.keys().Release();
        ShowHeld(0);
    }
    QWidget::focusOutEvent(event);
}

void PanelWidget::timerEvent(QTimerEvent* event)
{
    RunEngine([this] { host_.Tick(); });
    QWidget::timerEvent(event);
}

void PanelWidget::customEvent(QEvent* event)
{
    if (event->type() == kBlockCompleteEvent) {
        RunEngine([this] { host_.Step(); });
    }
}

} // namespace quillon
