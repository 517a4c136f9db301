#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>

namespace quillon {

// The dialogs are laid out in dialog units, which scale with the dialog's
// font the way the layouts were made for: a horizontal unit is a quarter of
// the font's average character width (over the 52 letters A-Z and a-z), a
// vertical unit an eighth of its height. So texts keep fitting their
// controls whatever the desktop's font.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const { return (units * baseWidth_ + 2) / 4; }
    int Y(int units) const { return (units * baseHeight_ + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }

private:
    int baseWidth_;
    int baseHeight_;
};

// The 8 point dialog font: the desktop's own family at the size the dialogs
// were laid out for.
QFont DialogFont();

// A fixed-size modal dialog frame with a caption and a close box, no
// context help and no resizing, in the dialog font. Returns its units.
DialogUnits SetUpDialogFrame(QDialog& dialog, const QString& title, int widthUnits, int heightUnits);

} // namespace quillon
