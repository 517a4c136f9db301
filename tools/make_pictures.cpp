// Draws the program's pictures: the panel front (302 x 305) and the same
// front at 2x, 3x and 4x (panel-Nx.png), each drawn from the same shapes at
// its own size so every zoom is crisp, the About picture (85 x 32), the
// window icon (64 x 64) and the same icon in the other sizes desktops ask
// for (icons/quillon-SIZE.png). Everything is drawn from
// fixed shapes and colours, with no fonts and no randomness, so the same
// toolkit version always writes the same pixels.
//
// Usage: make_pictures OUTPUT_DIRECTORY

#include <cstdio>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QString>

namespace {

// The emulated display's clear colour; the display window shows it until
// the first run is painted.
const QColor kDisplayBackground(188, 225, 101);
const QColor kWindowFace(212, 214, 216);
const QColor kHousingDark(38, 46, 52);
const QColor kHousingLight(74, 88, 98);
const QColor kKeyLight(226, 228, 230);
const QColor kKeyDark(150, 154, 160);
const QColor kKeyEdge(24, 28, 32);
const QColor kArrow(48, 56, 64);

// The display window: the 128 x 64 display at (80, 118).
const QRectF kDisplay(80, 118, 128, 64);
// Key areas: left and right keys, and the round middle key whose upper half
// (rows 202 to 217) carries the up arrow and lower half (rows 219 to 237)
// the down arrow.
const QRectF kLeftKey(74, 199, 37, 22);
const QRectF kRightKey(174, 199, 37, 22);
const QPointF kMiddleKeyCentre(140.5, 219.5);
constexpr double kMiddleKeyRadius = 18.5;

void DrawKeyFace(QPainter& painter, const QPainterPath& shape)
{
    QLinearGradient face(shape.boundingRect().topLeft(), shape.boundingRect().bottomLeft());
    face.setColorAt(0, kKeyLight);
    face.setColorAt(1, kKeyDark);
    painter.setPen(QPen(kKeyEdge, 1.5));
    painter.setBrush(face);
    painter.drawPath(shape);
}

void DrawArrow(QPainter& painter, QPointF tip, double halfWidth, double height)
{
    const QPolygonF arrow{tip, tip + QPointF(-halfWidth, height), tip + QPointF(halfWidth, height)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(kArrow);
    painter.drawPolygon(arrow);
}

void DrawScrew(QPainter& painter, QPointF centre)
{
    QRadialGradient head(centre - QPointF(1.5, 1.5), 5);
    head.setColorAt(0, QColor(200, 204, 208));
    head.setColorAt(1, QColor(96, 104, 110));
    painter.setPen(QPen(kKeyEdge, 1));
    painter.setBrush(head);
    painter.drawEllipse(centre, 4.5, 4.5);
    painter.setPen(QPen(QColor(40, 44, 48), 1.2));
    painter.drawLine(centre + QPointF(-3, 0), centre + QPointF(3, 0));
}

// The zooms of the desktop program besides 1x.
constexpr int kPanelZooms[] = {2, 3, 4};

// The panel front drawn scale times as large: the shapes are given in the
// pixels of the 1x picture, and the display window covers whole pixels at
// every scale.
QImage PanelPicture(int scale)
{
    QImage image(302 * scale, 305 * scale, QImage::Format_RGB32);
    image.fill(kWindowFace);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);

    // The circular front with a bright rim.
    const QPointF centre(151, 152.5);
    QRadialGradient rim(centre, 148);
    rim.setColorAt(0.93, QColor(120, 132, 140));
    rim.setColorAt(1.0, QColor(30, 34, 38));
    painter.setPen(Qt::NoPen);
    painter.setBrush(rim);
    painter.drawEllipse(centre, 148, 148);
    QRadialGradient face(centre - QPointF(30, 40), 180);
    face.setColorAt(0, kHousingLight);
    face.setColorAt(1, kHousingDark);
    painter.setBrush(face);
    painter.drawEllipse(centre, 137, 137);

    for (const QPointF offset : {QPointF(-88, -88), QPointF(88, -88), QPointF(-88, 88), QPointF(88, 88)}) {
        DrawScrew(painter, centre + offset);
    }

    // The display window: a black bezel with the display set into it.
    painter.setBrush(QColor(12, 14, 16));
    painter.setPen(QPen(QColor(140, 150, 158), 1));
    painter.drawRoundedRect(kDisplay.adjusted(-10, -10, 10, 10), 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 72, 40));
    painter.drawRect(kDisplay.adjusted(-2, -2, 2, 2));

    QPainterPath leftKey;
    leftKey.addRoundedRect(kLeftKey.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    DrawKeyFace(painter, leftKey);
    QPainterPath rightKey;
    rightKey.addRoundedRect(kRightKey.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    DrawKeyFace(painter, rightKey);
    for (const QRectF& key : {kLeftKey, kRightKey}) {
        painter.setPen(QPen(kArrow, 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(key.center().x() - 6, key.center().y()),
                         QPointF(key.center().x() + 6, key.center().y()));
    }

    QPainterPath middleKey;
    middleKey.addEllipse(kMiddleKeyCentre, kMiddleKeyRadius, kMiddleKeyRadius);
    DrawKeyFace(painter, middleKey);
    // The split between the two halves is row 218.
    painter.setPen(QPen(kKeyEdge, 1));
    painter.drawLine(QPointF(122, 218.5), QPointF(159, 218.5));
    DrawArrow(painter, QPointF(140.5, 204.5), 6, 9);
    DrawArrow(painter, QPointF(140.5, 234.5), 6, -9);

    // The display itself, square and exact, after everything antialiased.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(kDisplay, kDisplayBackground);
    painter.end();
    return image;
}

// A small panel front beside three lines of display text.
QImage AboutPicture()
{
    QImage image(85, 32, QImage::Format_RGB32);
    image.fill(kWindowFace);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient face(QPointF(12, 11), 20);
    face.setColorAt(0, kHousingLight);
    face.setColorAt(1, kHousingDark);
    painter.setPen(QPen(QColor(30, 34, 38), 1));
    painter.setBrush(face);
    painter.drawEllipse(QPointF(16, 16), 15, 15);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kDisplayBackground);
    painter.drawRect(QRectF(8.5, 10, 15, 8));
    painter.setBrush(kKeyLight);
    painter.drawEllipse(QPointF(16, 23.5), 2.5, 2.5);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(36, 4, 46, 24), kDisplayBackground);
    painter.fillRect(QRect(39, 8, 30, 3), Qt::black);
    painter.fillRect(QRect(39, 14, 40, 3), Qt::black);
    painter.fillRect(QRect(39, 20, 22, 3), Qt::black);
    painter.end();
    return image;
}

// The icon is drawn on a 64 x 64 grid and scaled to size, so every size
// shows the same shapes.
constexpr int kIconGrid = 64;
// The sizes of the desktop's icon theme besides the window icon's own.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 128, 256};

QImage Icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(static_cast<double>(size) / kIconGrid, static_cast<double>(size) / kIconGrid);
    QRadialGradient face(QPointF(24, 20), 44);
    face.setColorAt(0, kHousingLight);
    face.setColorAt(1, kHousingDark);
    painter.setPen(QPen(QColor(30, 34, 38), 2));
    painter.setBrush(face);
    painter.drawEllipse(QPointF(32, 32), 30, 30);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kDisplayBackground);
    painter.drawRoundedRect(QRectF(14, 17, 36, 19), 2, 2);
    painter.setBrush(Qt::black);
    painter.drawRect(QRectF(18, 22, 20, 3));
    painter.drawRect(QRectF(18, 28, 26, 3));
    painter.setBrush(kKeyLight);
    painter.drawRoundedRect(QRectF(14, 42, 9, 6), 2, 2);
    painter.drawRoundedRect(QRectF(41, 42, 9, 6), 2, 2);
    painter.drawEllipse(QPointF(32, 46), 5, 5);
    painter.end();
    return image;
}

bool Save(const QImage& image, const QDir& directory, const QString& name)
{
    const QString path = directory.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "Usage: make_pictures OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    bool saved = Save(PanelPicture(1), directory, QStringLiteral("panel.png")) &&
                 Save(AboutPicture(), directory, QStringLiteral("about.png")) &&
                 Save(Icon(kIconGrid), directory, QStringLiteral("quillon.png")) &&
                 directory.mkpath(QStringLiteral("icons"));
    for (const int zoom : kPanelZooms) {
        saved = saved && Save(PanelPicture(zoom), directory, QStringLiteral("panel-%1x.png").arg(zoom));
    }
    for (const int size : kIconSizes) {
        saved = saved && Save(Icon(size), directory, QStringLiteral("icons/quillon-%1.png").arg(size));
    }
    return saved ? 0 : 1;
}
