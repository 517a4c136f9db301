#pragma once

#include <cstdint>

#include <QDialog>
#include <QHash>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quillon {

class DialogUnits;
class PanelEngine;

// The Send Packet dialog: composes one frame from lists (or, for function
// code 1, a typed text) and feeds it to the engine as a one-frame block, as
// if the device had sent it. It stays open so frame after frame can be sent.
class SendPacketDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kSendId = 1;
    static constexpr int kCancelId = 2;
    static constexpr int kFunctionCodeListId = 1002;
    static constexpr int kLengthListId = 1003;
    static constexpr int kFirstDataListId = 1004;
    static constexpr int kDataListCount = 25;
    static constexpr int kChecksumListId = 1029;
    static constexpr int kAutoChecksumBoxId = 1031;
    static constexpr int kTextFieldId = 1032;
    static constexpr int kWriteStringBoxId = 1033;
    // The longest text whose frame (text + 5 bytes) fits the 120-byte
    // receive buffer.
    static constexpr int kMaxTextLength = 115;

    explicit SendPacketDialog(PanelEngine& engine, QWidget* parent = nullptr);

    // The control with the given identifier, or null.
    QWidget* GetDlgItem(int id) const { return controls_.value(id); }
    std::uint8_t checksumValue() const { return checksumValue_; }
    // The last press of Send handed its frame to the panel.
    bool lastSendTaken() const { return lastSendTaken_; }

    void OnSend();

private:
    void OnInitDialog();
    void ChecksumRule();
    void LengthRule();
    void WriteStringRule();
    void FunctionCodeRule();

    QComboBox* AddList(const DialogUnits& units, int id, int x, int y, int width);
    QComboBox* DataList(int d) const;
    void EnableItem(int id, bool enable) const;
    // The selected function code list index k and the length L.
    int FunctionIndex() const;
    int Length() const;

    PanelEngine& engine_;
    QHash<int, QWidget*> controls_;
    QComboBox* functionCodeList_ = nullptr;
    QComboBox* lengthList_ = nullptr;
    QCheckBox* autoChecksumBox_ = nullptr;
    QComboBox* checksumList_ = nullptr;
    std::uint8_t checksumValue_ = 3;
    bool lastSendTaken_ = false;
    QLineEdit* textField_ = nullptr;
    QCheckBox* writeStringBox_ = nullptr;
    QString text_;
};

} // namespace quillon
