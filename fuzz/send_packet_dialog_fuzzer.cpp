// The Send Packet dialog itself, offscreen, worked as a user works it: only
// enabled controls are changed, lists by choosing an entry, boxes by
// clicking, the text field by typing any single-byte text (longer than the
// field takes, too). Every press of Send must hand the engine exactly the
// frame that the selections make, show its checksum, and be answered by
// exactly one reply at the next tick. The enabling rules must
// never leave the text field open outside the string form.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QString>

#include "fuzz/harness.h"
#include "fuzz/scripts.h"
#include "fuzz/send_packet_check.h"
#include "ui/send_packet_dialog.h"

namespace quillon::fuzzing {
namespace {

void StartApplication()
{
    static int argc = 1;
    static char name[] = "send_packet_dialog_fuzzer";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: Qt's own statics go first at exit.
    static QApplication* application = new QApplication(argc, argv);
    static_cast<void>(application);
}

// A user at the dialog, with the selections that user has made.
class User {
public:
    explicit User(SendPacketDialog& dialog) : dialog_(dialog) {}

    void ChooseFunction(unsigned index)
    {
        if (Choose(SendPacketDialog::kFunctionCodeListId, static_cast<int>(index))) {
            selections.functionIndex = index;
            // Function code 4 forces the length list to "1".
            if (index + 1 == kBlankArea) {
                selections.lengthIndex = 0;
            }
        }
    }
    void ChooseLength(unsigned index)
    {
        if (Choose(SendPacketDialog::kLengthListId, static_cast<int>(index))) {
            selections.lengthIndex = index;
        }
    }
    void ChooseData(unsigned list, std::uint8_t value)
    {
        if (Choose(SendPacketDialog::kFirstDataListId + static_cast<int>(list), value)) {
            selections.data[list] = value;
        }
    }
    void ChooseChecksum(std::uint8_t value) { Choose(SendPacketDialog::kChecksumListId, value); }
    void ClickWriteString()
    {
        if (Click(SendPacketDialog::kWriteStringBoxId)) {
            selections.writeString = !selections.writeString;
        }
    }
    void ClickAutoChecksum() { Click(SendPacketDialog::kAutoChecksumBoxId); }
    void Type(const std::string& text)
    {
        auto* field = static_cast<QLineEdit*>(dialog_.GetDlgItem(SendPacketDialog::kTextFieldId));
        if (!field->isEnabled()) {
            return;
        }
        field->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        selections.text = text.substr(0, SendPacketDialog::kMaxTextLength);
    }

    // The rules never open the text field outside the string form, and
    // "Write String" is offered for function code 1 only.
    void CheckEnabling() const
    {
        const bool codeOne = selections.functionIndex == 0;
        QUILLON_FUZZ_CHECK(dialog_.GetDlgItem(SendPacketDialog::kWriteStringBoxId)->isEnabled() == codeOne);
        if (dialog_.GetDlgItem(SendPacketDialog::kTextFieldId)->isEnabled()) {
            QUILLON_FUZZ_CHECK(codeOne && selections.writeString);
        }
    }

    Selections selections;

private:
    bool Choose(int id, int index)
    {
        auto* list = static_cast<QComboBox*>(dialog_.GetDlgItem(id));
        if (!list->isEnabled()) {
            return false;
        }
        QUILLON_FUZZ_CHECK(index < list->count());
        list->setCurrentIndex(index);
        emit list->activated(index);
        return true;
    }
    bool Click(int id)
    {
        auto* box = static_cast<QCheckBox*>(dialog_.GetDlgItem(id));
        if (!box->isEnabled()) {
            return false;
        }
        box->click();
        return true;
    }

    SendPacketDialog& dialog_;
};

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    StartApplication();
    ByteScript input(data, size);
    Engine engine(input.Long());
    SendPacketDialog dialog(engine.panel);
    User user(dialog);

    while (!input.AtEnd()) {
        switch (NextOperation<DialogOp>(input)) {
        case DialogOp::ChooseFunction:
            user.ChooseFunction(input.Below(kFunctionCodeEntries));
            break;
        case DialogOp::ChooseLength:
            user.ChooseLength(input.Below(kDataLists));
            break;
        case DialogOp::ChooseData: {
            const unsigned list = input.Below(kDataLists);
            user.ChooseData(list, input.Byte());
            break;
        }
        case DialogOp::ClickWriteString:
            user.ClickWriteString();
            break;
        case DialogOp::Type: {
            const auto text = input.Take(input.Below(SendPacketDialog::kMaxTextLength + 21));
            user.Type(std::string(text.begin(), text.end()));
            break;
        }
        case DialogOp::ClickAutoChecksum:
            user.ClickAutoChecksum();
            break;
        case DialogOp::ChooseChecksum:
            user.ChooseChecksum(input.Byte());
            break;
        case DialogOp::Wait:
            engine.WaitAndTick(input.Word());
            break;
        case DialogOp::Keys:
            PressKeysFrom(engine.panel.keys(), input.Byte());
            break;
        case DialogOp::Send:
        case DialogOp::Count: {
            dialog.OnSend();
            const Composed frame = Compose(user.selections);
            CheckSendAndTick(engine, frame,
                             dialog.lastSendTaken() ? std::optional(dialog.checksumValue()) : std::nullopt);
            const auto* checksumList = static_cast<QComboBox*>(dialog.GetDlgItem(SendPacketDialog::kChecksumListId));
            QUILLON_FUZZ_CHECK(checksumList->currentIndex() == dialog.checksumValue());
            break;
        }
        }
        user.CheckEnabling();
    }
}

} // namespace
} // namespace quillon::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quillon::fuzzing::FuzzOneInput(data, size);
    return 0;
}
