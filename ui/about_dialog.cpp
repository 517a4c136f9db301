#include "ui/about_dialog.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/dialog_units.h"
#include "ui/version.h"

namespace quillon {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    const DialogUnits units = SetUpDialogFrame(*this, QStringLiteral("About Quillon"), 192, 65);

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/about.png")));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setGeometry(units.Rect(2, 13, 57, 20));

    auto* version = new QLabel(VersionLine(), this);
    version->setGeometry(units.Rect(69, 18, 103, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(units.Rect(70, 44, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace quillon
