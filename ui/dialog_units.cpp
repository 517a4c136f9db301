#include "ui/dialog_units.h"

#include <QFontMetrics>

namespace quillon {

namespace {

const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// The average over both cases, rounded to the nearest pixel.
int AverageCharacterWidth(const QFontMetrics& metrics)
{
    return (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
}

} // namespace

DialogUnits::DialogUnits(const QFont& font)
    : baseWidth_(AverageCharacterWidth(QFontMetrics(font))), baseHeight_(QFontMetrics(font).height())
{
}

QFont DialogFont()
{
    QFont font;
    font.setPointSize(8);
    return font;
}

DialogUnits SetUpDialogFrame(QDialog& dialog, const QString& title, int widthUnits, int heightUnits)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint);
    dialog.setWindowTitle(title);
    dialog.setFont(DialogFont());
    dialog.setModal(true);
    const DialogUnits units(dialog.font());
    dialog.setFixedSize(units.X(widthUnits), units.Y(heightUnits));
    return units;
}

} // namespace quillon
