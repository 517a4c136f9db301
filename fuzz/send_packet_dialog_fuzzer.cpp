// The Send Packet dialog itself, offscreen, worked as a user works it: only
// enabled controls are changed, lists by choosing an entry, boxes by
// clicking, the text field by typing any single-byte text (longer than the
// field takes, too). Every press of Send must put exactly the frame that the
// selections make into the receive buffer, show its checksum, and be
// answered by exactly one reply at the next tick. The enabling rules must
// never leave the text field open outside the string form.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QString>

#include "fuzz/harness.h"
#include "fuzz/send_packet_check.h"
#include "ui/send_packet_dlg.h"

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
    explicit User(CSendPacketDlg& dialog) : dialog_(dialog) {}

    void ChooseFunction(unsigned index)
    {
        if (Choose(CSendPacketDlg::kFunctionCodeListId, static_cast<int>(index))) {
            selections.functionIndex = index;
            // Function code 4 forces the length list to "1".
            if (index + 1 == kBlankArea) {
                selections.lengthIndex = 0;
            }
        }
    }
    void ChooseLength(unsigned index)
    {
        if (Choose(CSendPacketDlg::kLengthListId, static_cast<int>(index))) {
            selections.lengthIndex = index;
        }
    }
    void ChooseData(unsigned list, std::uint8_t value)
    {
        if (Choose(CSendPacketDlg::kFirstDataListId + static_cast<int>(list), value)) {
            selections.data[list] = value;
        }
    }
    void ChooseChecksum(std::uint8_t value) { Choose(CSendPacketDlg::kChecksumListId, value); }
    void ClickWriteString()
    {
        if (Click(CSendPacketDlg::kWriteStringBoxId)) {
            selections.writeString = !selections.writeString;
        }
    }
    void ClickAutoChecksum() { Click(CSendPacketDlg::kAutoChecksumBoxId); }
    void Type(const std::string& text)
    {
        auto* field = static_cast<QLineEdit*>(dialog_.GetDlgItem(CSendPacketDlg::kTextFieldId));
        if (!field->isEnabled()) {
            return;
        }
        field->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        selections.text = text.substr(0, CSendPacketDlg::kMaxTextLength);
    }

    // The rules never open the text field outside the string form, and
    // "Write String" is offered for function code 1 only.
    void CheckEnabling() const
    {
        const bool codeOne = selections.functionIndex == 0;
        QUILLON_FUZZ_CHECK(dialog_.GetDlgItem(CSendPacketDlg::kWriteStringBoxId)->isEnabled() == codeOne);
        if (dialog_.GetDlgItem(CSendPacketDlg::kTextFieldId)->isEnabled()) {
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

    CSendPacketDlg& dialog_;
};

// Operations of the script; each is followed by its arguments.
enum Operation : unsigned {
    kChooseFunction,   // function code list index
    kChooseLength,     // length list index
    kChooseData,       // data list index, byte value
    kClickWriteString, //
    kType,             // text length (up to 20 more than the field takes), the text
    kClickAutoChecksum,
    kChooseChecksum, // byte value
    kWait,           // milliseconds (16 bits, up to 20 000), then a tick
    kKeys,           // key value index, released flag in bit 4
    kSend,           // Send, then a tick
    kOperations
};

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    StartApplication();
    ByteScript input(data, size);
    Engine engine(input.Long());
    CSendPacketDlg dialog(engine.link);
    User user(dialog);

    while (!input.AtEnd()) {
        switch (input.Below(kOperations)) {
        case kChooseFunction:
            user.ChooseFunction(input.Below(kFunctionCodeEntries));
            break;
        case kChooseLength:
            user.ChooseLength(input.Below(kDataLists));
            break;
        case kChooseData: {
            const unsigned list = input.Below(kDataLists);
            user.ChooseData(list, input.Byte());
            break;
        }
        case kClickWriteString:
            user.ClickWriteString();
            break;
        case kType: {
            const auto text = input.Bytes(input.Below(CSendPacketDlg::kMaxTextLength + 21));
            user.Type(std::string(text.begin(), text.end()));
            break;
        }
        case kClickAutoChecksum:
            user.ClickAutoChecksum();
            break;
        case kChooseChecksum:
            user.ChooseChecksum(input.Byte());
            break;
        case kWait:
            engine.WaitAndTick(input.Word());
            break;
        case kKeys:
            engine.view.PressKeysFrom(input.Byte());
            break;
        default: {
            dialog.OnSend();
            const Composed frame = Compose(user.selections);
            CheckSendAndTick(engine, frame, dialog.checksumValue());
            const auto* checksumList = static_cast<QComboBox*>(dialog.GetDlgItem(CSendPacketDlg::kChecksumListId));
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
