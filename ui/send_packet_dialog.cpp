#include "ui/send_packet_dialog.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "link/panel_engine.h"
#include "ui/dialog_units.h"

namespace quillon {

namespace {

const QStringList kFunctionCodes{
    QStringLiteral("1 WRITE STRING"),      QStringLiteral("2 WRITE ARRAY"),     QStringLiteral("3 SETUP DISPLAY"),
    QStringLiteral("4 BLANK AREA"),        QStringLiteral("5 READ SWITCHES"),   QStringLiteral("6  SET CONTRAST"),
    QStringLiteral("7 WRITE PRE DEF STR"), QStringLiteral("8 DRAW SLIDER BAR"), QStringLiteral("9 WRITE FRAME HEADER"),
    QStringLiteral("10 DRAW AND REPEAT"),
};

constexpr std::array<int, 5> kDataColumnsX{125, 159, 193, 227, 261};
constexpr std::array<int, 5> kDataRowsY{12, 28, 44, 59, 75};

// Function code list indices with rules of their own.
constexpr int kWriteStringIndex = 0;
constexpr int kWriteArrayIndex = 1;
constexpr int kBlankAreaIndex = 3;

bool IsChecked(const QCheckBox* box)
{
    return box->checkState() != Qt::Unchecked;
}

// 0X00 .. 0XFF: the byte value as lower-case hexadecimal, then the whole
// text in upper case.
QStringList ByteEntries()
{
    QStringList entries;
    for (int value = 0; value < 256; ++value) {
        entries << QString::asprintf("0x%.2x", value).toUpper();
    }
    return entries;
}

std::uint8_t SelectedByte(const QComboBox* list)
{
    return static_cast<std::uint8_t>(list->currentIndex());
}

} // namespace

SendPacketDialog::SendPacketDialog(PanelEngine& engine, QWidget* parent) : QDialog(parent), engine_(engine)
{
    const DialogUnits units = SetUpDialogFrame(*this, QStringLiteral(" "), 417, 119);
    if (parent != nullptr) {
        // Beside the panel: the position counts from the top left of the
        // panel widget.
        move(parent->mapToGlobal(QPoint(units.X(200), units.Y(0))));
    }

    auto* send = new QPushButton(QStringLiteral("Send"), this);
    send->setGeometry(units.Rect(360, 10, 50, 14));
    send->setDefault(true);
    controls_.insert(kSendId, send);
    connect(send, &QPushButton::clicked, this, &SendPacketDialog::OnSend);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(units.Rect(360, 27, 50, 14));
    cancel->setAutoDefault(false);
    controls_.insert(kCancelId, cancel);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    functionCodeList_ = AddList(units, kFunctionCodeListId, 4, 12, 86);
    lengthList_ = AddList(units, kLengthListId, 94, 12, 27);
    for (int d = 1; d <= kDataListCount; ++d) {
        const auto slot = static_cast<std::size_t>(d - 1);
        AddList(units, kFirstDataListId + d - 1, kDataColumnsX[slot % 5], kDataRowsY[slot / 5], 33);
    }
    checksumList_ = AddList(units, kChecksumListId, 362, 74, 33);

    // A label is never narrower than its text, even where the desktop's font
    // runs wider than the one the layout was made with.
    const auto addLabel = [this](const QString& text, QRect geometry) {
        auto* label = new QLabel(text, this);
        geometry.setWidth(std::max(geometry.width(), label->sizeHint().width()));
        label->setGeometry(geometry);
    };
    addLabel(QStringLiteral("Function Code"), units.Rect(18, 2, 47, 10));
    addLabel(QStringLiteral("Length"), units.Rect(96, 2, 31, 10));
    addLabel(QStringLiteral("-----------------------------Data----------------------------"),
             units.Rect(125, 2, 173, 10));
    addLabel(QStringLiteral("Data Bytes 1-5"), units.Rect(297, 13, 51, 9));
    addLabel(QStringLiteral("Data Bytes 6-10"), units.Rect(297, 29, 58, 9));
    addLabel(QStringLiteral("Data Bytes 10-15"), units.Rect(297, 45, 57, 9));
    addLabel(QStringLiteral("Data Bytes 15-20"), units.Rect(297, 61, 58, 9));
    addLabel(QStringLiteral("Data Bytes 20-25"), units.Rect(297, 77, 60, 9));
    addLabel(QStringLiteral("Checksum"), units.Rect(362, 64, 31, 10));

    autoChecksumBox_ = new QCheckBox(QStringLiteral("Auto-calc. Checksum"), this);
    autoChecksumBox_->setGeometry(units.Rect(328, 91, 86, 12));
    controls_.insert(kAutoChecksumBoxId, autoChecksumBox_);
    connect(autoChecksumBox_, &QCheckBox::clicked, this, &SendPacketDialog::ChecksumRule);

    textField_ = new QLineEdit(this);
    textField_->setGeometry(units.Rect(126, 96, 165, 12));
    textField_->setMaxLength(kMaxTextLength);
    controls_.insert(kTextFieldId, textField_);

    // The box sits right of its text.
    writeStringBox_ = new QCheckBox(QStringLiteral("Write String"), this);
    writeStringBox_->setLayoutDirection(Qt::RightToLeft);
    writeStringBox_->setGeometry(units.Rect(65, 96, 54, 12));
    controls_.insert(kWriteStringBoxId, writeStringBox_);
    connect(writeStringBox_, &QCheckBox::clicked, this, &SendPacketDialog::WriteStringRule);

    // Only a choice made by the user runs a rule; the rules' own selections
    // do not.
    connect(functionCodeList_, &QComboBox::activated, this, &SendPacketDialog::FunctionCodeRule);
    connect(lengthList_, &QComboBox::activated, this, &SendPacketDialog::LengthRule);
    for (int d = 1; d <= kDataListCount; ++d) {
        connect(DataList(d), &QComboBox::activated, this, &SendPacketDialog::ChecksumRule);
    }

    OnInitDialog();
}

QComboBox* SendPacketDialog::AddList(const DialogUnits& units, int id, int x, int y, int width)
{
    auto* list = new QComboBox(this);
    list->setEditable(false);
    const QRect area = units.Rect(x, y, width, 0);
    list->setGeometry(area.x(), area.y(), area.width(), list->sizeHint().height());
    controls_.insert(id, list);
    return list;
}

QComboBox* SendPacketDialog::DataList(int d) const
{
    return static_cast<QComboBox*>(GetDlgItem(kFirstDataListId + d - 1));
}

void SendPacketDialog::EnableItem(int id, bool enable) const
{
    GetDlgItem(id)->setEnabled(enable);
}

int SendPacketDialog::FunctionIndex() const
{
    return functionCodeList_->currentIndex();
}

int SendPacketDialog::Length() const
{
    return lengthList_->currentIndex() + 1;
}

void SendPacketDialog::OnInitDialog()
{
    functionCodeList_->addItems(kFunctionCodes);
    for (int length = 1; length <= kDataListCount; ++length) {
        lengthList_->addItem(QString::number(length));
    }
    functionCodeList_->setCurrentIndex(0);
    lengthList_->setCurrentIndex(0);
    autoChecksumBox_->setChecked(true);

    const QStringList entries = ByteEntries();
    checksumList_->addItems(entries);
    for (int d = 1; d <= kDataListCount; ++d) {
        DataList(d)->addItems(entries);
        DataList(d)->setCurrentIndex(0);
    }
    checksumList_->setEnabled(false);
    checksumList_->setCurrentIndex(checksumValue_);
    textField_->setEnabled(false);
    LengthRule();
}

void SendPacketDialog::ChecksumRule()
{
    if (!IsChecked(autoChecksumBox_)) {
        checksumList_->setEnabled(true);
        return;
    }
    // Shown before sending: counts the code without the last-frame bit and
    // every data list, enabled or not. Send computes the frame's own.
    int sum = 1 + Length() + FunctionIndex() + 1;
    for (int d = 1; d <= kDataListCount; ++d) {
        sum += DataList(d)->currentIndex();
    }
    checksumValue_ = static_cast<std::uint8_t>(sum);
    checksumList_->setCurrentIndex(checksumValue_);
    checksumList_->setEnabled(false);
}

void SendPacketDialog::LengthRule()
{
    const int length = Length();
    for (int d = 1; d <= kDataListCount; ++d) {
        DataList(d)->setEnabled(d <= length);
    }
    ChecksumRule();
}

void SendPacketDialog::WriteStringRule()
{
    if (IsChecked(writeStringBox_)) {
        textField_->setEnabled(true);
        lengthList_->setEnabled(false);
        for (int d = 2; d <= kDataListCount; ++d) {
            DataList(d)->setEnabled(d == 2);
        }
    } else {
        textField_->setEnabled(false);
        lengthList_->setEnabled(true);
        for (int d = 1; d <= kDataListCount; ++d) {
            DataList(d)->setEnabled(true);
        }
    }
}

void SendPacketDialog::FunctionCodeRule()
{
    const int k = FunctionIndex();
    switch (k) {
    case kWriteStringIndex:
        writeStringBox_->setEnabled(true);
        WriteStringRule();
        break;
    case kWriteArrayIndex:
        textField_->setEnabled(false);
        writeStringBox_->setEnabled(false);
        lengthList_->setEnabled(true);
        for (int d = 2; d <= kDataListCount; ++d) {
            DataList(d)->setEnabled(true);
        }
        break;
    case kBlankAreaIndex:
        textField_->setEnabled(false);
        writeStringBox_->setEnabled(false);
        lengthList_->setCurrentIndex(0);
        lengthList_->setEnabled(false);
        for (int d = 2; d <= kDataListCount; ++d) {
            DataList(d)->setEnabled(false);
        }
        break;
    default:
        break;
    }
    writeStringBox_->setEnabled(k == kWriteStringIndex);
    if (k != kWriteStringIndex) {
        textField_->setEnabled(false);
    }
    LengthRule();
}

void SendPacketDialog::OnSend()
{
    const auto functionCode = static_cast<std::uint8_t>(FunctionIndex() + 1);
    std::array<std::uint8_t, kRxBufferSize> data{};
    std::uint8_t length = 0;
    if (functionCode == 1 && IsChecked(writeStringBox_)) {
        text_ = textField_->text();
        // The display's character set is single-byte.
        const QByteArray characters = text_.toLatin1();
        length = static_cast<std::uint8_t>(characters.size() + 2);
        data[0] = SelectedByte(DataList(1));
        data[1] = SelectedByte(DataList(2));
        std::copy(characters.begin(), characters.end(), data.begin() + 2);
    } else {
        length = static_cast<std::uint8_t>(Length());
        for (int i = 0; i < length; ++i) {
            data[static_cast<std::size_t>(i)] = SelectedByte(DataList(i + 1));
        }
    }
    const std::optional<std::uint8_t> checksum = engine_.InjectFrame(functionCode, std::span(data).first(length));
    lastSendTaken_ = checksum.has_value();
    if (!checksum) {
        // The panel still holds the frames sent before it (its link paused):
        // this one was not sent, and the checksum field keeps what it showed.
        QApplication::beep();
        return;
    }
    checksumValue_ = *checksum;
    checksumList_->setCurrentIndex(checksumValue_);
}

} // namespace quillon
