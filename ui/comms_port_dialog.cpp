#include "ui/comms_port_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "ui/dialog_units.h"
#include "ui/main_window.h"

namespace quillon {

CommsPortDialog::CommsPortDialog(MainWindow& window) : QDialog(&window), window_(window)
{
    const DialogUnits units = SetUpDialogFrame(*this, QStringLiteral("Select Comms Port"), kWidthUnits, kHeightUnits);

    portList_ = new QComboBox(this);
    portList_->setEditable(false);
    // Its size hint then follows the entries, which are added below.
    portList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    const QRect listArea = units.Rect(7, 7, 59, 0);
    portList_->setGeometry(listArea.x(), listArea.y(), listArea.width(), portList_->sizeHint().height());

    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setGeometry(units.Rect(71, 7, 50, 14));
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(units.Rect(71, 29, 50, 14));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The typed path has a row of its own below the buttons, as wide as the
    // dialog, so a path such as /dev/serial/by-id/... shows far more than its
    // tail.
    pathField_ = new QLineEdit(this);
    pathField_->setGeometry(units.Rect(7, kHeightUnits, kWidthUnits - 14, 14));
    setFixedSize(width(), units.Y(kHeightUnits + 14 + 7));
    pathField_->setPlaceholderText(DevicePathHint());
    pathField_->setToolTip(QStringLiteral("Any serial device, pseudo-terminal or link to one"));

    // The list and the field never disagree: whichever the user touched
    // last is the choice.
    connect(portList_, &QComboBox::activated, pathField_, &QLineEdit::clear);
    connect(pathField_, &QLineEdit::textEdited, this, [this] { portList_->setCurrentIndex(-1); });

    OnInitDialog();
    WidenForTheEntries();

    const auto updateOk = [this] { okButton_->setEnabled(SelectedPort().has_value()); };
    connect(portList_, &QComboBox::currentIndexChanged, this, updateOk);
    connect(pathField_, &QLineEdit::textChanged, this, updateOk);
    updateOk();
}

void CommsPortDialog::OnInitDialog()
{
    for (int n = 1; n <= kComPortCount; ++n) {
        portList_->addItem(QStringLiteral("COM%1:").arg(n));
        entries_.push_back(PortTarget::Com(n));
    }
    for (const QString& path : FindSerialDevices(window_.deviceDirectory())) {
        portList_->addItem(FoundDeviceEntry(path));
        entries_.push_back(PortTarget::Device(path));
    }
    if (const auto& virtualPort = window_.VirtualPort()) {
        portList_->addItem(QStringLiteral("Virtual port %1").arg(virtualPort->path));
        entries_.push_back(*virtualPort);
    }

    const PortTarget current = window_.CurrentPort();
    const auto found = std::find(entries_.begin(), entries_.end(), current);
    if (found != entries_.end()) {
        portList_->setCurrentIndex(static_cast<int>(found - entries_.begin()));
    } else {
        portList_->setCurrentIndex(-1);
        if (current.kind == PortTarget::Kind::DevicePath) {
            pathField_->setText(current.path);
        }
    }
    portList_->setFocus();
}

void CommsPortDialog::WidenForTheEntries()
{
    // COM1: to COM256: fit the list's own width; a device path or the
    // virtual port may not. The list then grows to show its widest entry
    // whole, the field below with it, and the buttons and the dialog move
    // out by as much.
    const int extra = std::max(portList_->sizeHint().width() - portList_->width(), 0);
    if (extra == 0) {
        return;
    }
    portList_->resize(portList_->width() + extra, portList_->height());
    pathField_->resize(pathField_->width() + extra, pathField_->height());
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->move(button->x() + extra, button->y());
    }
    setFixedSize(width() + extra, height());
}

std::optional<PortTarget> CommsPortDialog::SelectedPort() const
{
    const QString typed = pathField_->text().trimmed();
    if (!typed.isEmpty()) {
        return PortTarget::Device(typed);
    }
    const int index = portList_->currentIndex();
    if (index < 0) {
        return std::nullopt;
    }
    return entries_[static_cast<std::size_t>(index)];
}

void CommsPortDialog::accept()
{
    const std::optional<PortTarget> target = SelectedPort();
    if (!target) {
        return;
    }
    PanelEngine& engine = window_.engine();
    engine.SetLinkEnabled(false);
    PortControl& port = window_.portControl();
    port.Close();
    const int failedStep = port.Open(*target);
    if (failedStep != 0) {
        window_.messages().ShowMessage(
            MessageIcon::Error,
            PortFailureMessage(QStringLiteral("Error Initialising %1 - Error %2\r\nCheck correct COM port "
                                              "has been selected")
                                   .arg(target->Describe(), QString::number(failedStep)),
                               port.lastOpenError(), *target, window_.deviceDirectory()));
    }
    window_.SetCurrentPort(*target);
    engine.SetLinkEnabled(true);
    QDialog::accept();
}

} // namespace quillon
