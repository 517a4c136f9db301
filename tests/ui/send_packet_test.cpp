#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "tests/support/fakes.h"
#include "tests/ui/ui_fakes.h"
#include "ui/dialog_units.h"
#include "ui/send_packet_dialog.h"

namespace quillon::testing {
namespace {

using Dlg = SendPacketDialog;

// The dialog over an engine without a reader thread, which takes each
// injected frame as soon as it may.
class SendPacketTest : public ::testing::Test {
public:
    SendPacketTest()
    {
        engine.SetLinkEnabled(true);
        engine.SetObserver(&events);
    }

    QComboBox* List(int id) const { return static_cast<QComboBox*>(dialog.GetDlgItem(id)); }
    QComboBox* Data(int d) const { return List(Dlg::kFirstDataListId + d - 1); }
    QCheckBox* Box(int id) const { return static_cast<QCheckBox*>(dialog.GetDlgItem(id)); }
    QLineEdit* TextField() const { return static_cast<QLineEdit*>(dialog.GetDlgItem(Dlg::kTextFieldId)); }

    // The user picks entry `index` of list `id`.
    void Choose(int id, int index) const
    {
        List(id)->setCurrentIndex(index);
        emit List(id)->activated(index);
    }
    void ChooseFunctionCode(int code) const { Choose(Dlg::kFunctionCodeListId, code - 1); }
    void ChooseLength(int length) const { Choose(Dlg::kLengthListId, length - 1); }
    void ChooseData(int d, int value) const { Choose(Dlg::kFirstDataListId + d - 1, value); }
    void ClickWriteString() const { Box(Dlg::kWriteStringBoxId)->click(); }

    // Data lists 1 .. n enabled and the rest disabled.
    int EnabledDataLists() const
    {
        int enabled = 0;
        while (enabled < Dlg::kDataListCount && Data(enabled + 1)->isEnabled()) {
            ++enabled;
        }
        for (int d = enabled + 1; d <= Dlg::kDataListCount; ++d) {
            if (Data(d)->isEnabled()) {
                return -1;
            }
        }
        return enabled;
    }

    // Ticks until the engine has taken every frame sent; the frames it took,
    // in order, since the last call.
    std::vector<Bytes> Executed()
    {
        std::size_t taken = 0;
        do {
            taken = events.Of(LinkEventKind::FrameExecuted).size();
            engine.Tick();
        } while (events.Of(LinkEventKind::FrameExecuted).size() != taken);
        std::vector<Bytes> frames;
        for (const LinkEvent& event : events.Of(LinkEventKind::FrameExecuted)) {
            frames.emplace_back(event.bytes().begin(), event.bytes().end());
        }
        events.events.clear();
        return frames;
    }

    QueuePort port;
    ManualClock clock;
    PanelEngine engine{port, clock};
    EventLog events;
    Dlg dialog{engine};
};

TEST_F(SendPacketTest, OpensWithFunctionCodeOneLengthOneAndChecksumThree)
{
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral(" "));
    QStringList codes;
    for (int i = 0; i < List(Dlg::kFunctionCodeListId)->count(); ++i) {
        codes << List(Dlg::kFunctionCodeListId)->itemText(i);
    }
    EXPECT_EQ(codes, (QStringList{"1 WRITE STRING", "2 WRITE ARRAY", "3 SETUP DISPLAY", "4 BLANK AREA",
                                  "5 READ SWITCHES", "6  SET CONTRAST", "7 WRITE PRE DEF STR", "8 DRAW SLIDER BAR",
                                  "9 WRITE FRAME HEADER", "10 DRAW AND REPEAT"}));
    EXPECT_EQ(List(Dlg::kLengthListId)->count(), 25);
    EXPECT_EQ(List(Dlg::kLengthListId)->itemText(24), QStringLiteral("25"));
    for (int d = 1; d <= 25; ++d) {
        ASSERT_EQ(Data(d)->count(), 256);
        EXPECT_EQ(Data(d)->currentIndex(), 0);
    }
    EXPECT_EQ(Data(25)->itemText(10), QStringLiteral("0X0A"));
    EXPECT_EQ(Data(25)->itemText(255), QStringLiteral("0XFF"));

    EXPECT_EQ(List(Dlg::kFunctionCodeListId)->currentIndex(), 0);
    EXPECT_EQ(List(Dlg::kLengthListId)->currentIndex(), 0);
    EXPECT_TRUE(List(Dlg::kLengthListId)->isEnabled());
    EXPECT_TRUE(Box(Dlg::kWriteStringBoxId)->isEnabled());
    EXPECT_FALSE(Box(Dlg::kWriteStringBoxId)->isChecked());
    EXPECT_FALSE(TextField()->isEnabled());
    EXPECT_EQ(EnabledDataLists(), 1);
    EXPECT_TRUE(Box(Dlg::kAutoChecksumBoxId)->isChecked());
    EXPECT_FALSE(List(Dlg::kChecksumListId)->isEnabled());
    EXPECT_EQ(List(Dlg::kChecksumListId)->currentText(), QStringLiteral("0X03"));
}

struct NetState {
    const char* name;
    std::function<void(SendPacketTest&)> before;
    int functionCode;
    bool textField;
    bool writeString;
    bool lengthList;
    int lengthShown;
    int dataLists;
};

// Net state after a change of function code, with length 3 chosen first.
class NetStateTest : public SendPacketTest {
public:
    void Check(const NetState& c)
    {
        ChooseLength(3);
        c.before(*this);
        ChooseFunctionCode(c.functionCode);
        EXPECT_EQ(TextField()->isEnabled(), c.textField) << c.name;
        EXPECT_EQ(Box(Dlg::kWriteStringBoxId)->isEnabled(), c.writeString) << c.name;
        EXPECT_EQ(List(Dlg::kLengthListId)->isEnabled(), c.lengthList) << c.name;
        EXPECT_EQ(List(Dlg::kLengthListId)->currentIndex() + 1, c.lengthShown) << c.name;
        EXPECT_EQ(EnabledDataLists(), c.dataLists) << c.name;
    }
};

TEST_F(NetStateTest, FunctionCodeOneWithoutWriteString)
{
    Check({"1, W unchecked", [](SendPacketTest&) {}, 1, false, true, true, 3, 3});
}
TEST_F(NetStateTest, FunctionCodeOneWithWriteString)
{
    Check({"1, W checked", [](SendPacketTest& t) { t.ClickWriteString(); }, 1, true, true, false, 3, 3});
}
TEST_F(NetStateTest, FunctionCodeTwo)
{
    Check({"2", [](SendPacketTest&) {}, 2, false, false, true, 3, 3});
}
TEST_F(NetStateTest, FunctionCodeTwoAfterWriteStringEnablesTheLengthList)
{
    Check({"2 after W", [](SendPacketTest& t) { t.ClickWriteString(); }, 2, false, false, true, 3, 3});
}
TEST_F(NetStateTest, FunctionCodeFourForcesLengthOne)
{
    Check({"4", [](SendPacketTest&) {}, 4, false, false, false, 1, 1});
}
TEST_F(NetStateTest, OtherCodesLeaveTheLengthListAsItWas)
{
    for (const int code : {3, 5, 6, 7, 8, 9, 10}) {
        Check({"other, from enabled", [](SendPacketTest& t) { t.ChooseFunctionCode(2); }, code, false, false, true, 3,
               3});
        Check({"other, from 4", [](SendPacketTest& t) { t.ChooseFunctionCode(4); }, code, false, false, false, 1, 1});
    }
}
TEST_F(NetStateTest, OtherCodesAfterWriteStringKeepTheLengthListDisabled)
{
    Check({"3 after W", [](SendPacketTest& t) { t.ClickWriteString(); }, 3, false, false, false, 3, 3});
}

TEST_F(SendPacketTest, WriteStringRuleOnItsOwn)
{
    ChooseLength(4);
    Box(Dlg::kWriteStringBoxId)->click();
    EXPECT_TRUE(TextField()->isEnabled());
    EXPECT_FALSE(List(Dlg::kLengthListId)->isEnabled());
    EXPECT_TRUE(Data(1)->isEnabled()) << "keeps its state";
    EXPECT_TRUE(Data(2)->isEnabled());
    EXPECT_FALSE(Data(3)->isEnabled());
    EXPECT_FALSE(Data(25)->isEnabled());

    Box(Dlg::kWriteStringBoxId)->click();
    EXPECT_FALSE(TextField()->isEnabled());
    EXPECT_TRUE(List(Dlg::kLengthListId)->isEnabled());
    EXPECT_EQ(EnabledDataLists(), 25) << "unchecking enables every data list";
}

TEST_F(SendPacketTest, ChecksumRuleCountsEveryDataListAndTheCodeWithoutBitSeven)
{
    ChooseLength(25);
    ChooseData(25, 0x20);
    ChooseLength(2);
    EXPECT_FALSE(Data(25)->isEnabled());
    EXPECT_EQ(Data(25)->currentIndex(), 0x20) << "a disabled list keeps its selection";
    ChooseFunctionCode(2);
    ChooseData(1, 0x10);
    // 1 + 0x10 + 0x20 + L 2 + code 2
    EXPECT_EQ(List(Dlg::kChecksumListId)->currentIndex(), 1 + 0x10 + 0x20 + 2 + 2);

    ChooseData(2, 0xFF);
    EXPECT_EQ(dialog.checksumValue(), static_cast<std::uint8_t>(1 + 0x10 + 0xFF + 0x20 + 2 + 2));

    Box(Dlg::kAutoChecksumBoxId)->click();
    EXPECT_TRUE(List(Dlg::kChecksumListId)->isEnabled());
    ChooseData(1, 0x11);
    EXPECT_EQ(dialog.checksumValue(), static_cast<std::uint8_t>(1 + 0x10 + 0xFF + 0x20 + 2 + 2)) << "not recomputed";
    Box(Dlg::kAutoChecksumBoxId)->click();
    EXPECT_FALSE(List(Dlg::kChecksumListId)->isEnabled());
    EXPECT_EQ(dialog.checksumValue(), static_cast<std::uint8_t>(1 + 0x11 + 0xFF + 0x20 + 2 + 2));
}

TEST_F(SendPacketTest, SendRightAfterOpeningInjectsTheFrameAndTheDeviceSeesItRejected)
{
    dialog.OnSend();
    EXPECT_EQ(List(Dlg::kChecksumListId)->currentText(), QStringLiteral("0X83"));
    EXPECT_EQ(engine.receiver().framesReceived(), 1u) << "taken at once with no reader thread";
    engine.Tick();
    const std::vector<LinkEvent> taken = events.Of(LinkEventKind::FrameExecuted);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(Bytes(taken[0].bytes().begin(), taken[0].bytes().end()), (Bytes{0x81, 0x01, 0x00, 0x83}));
    EXPECT_TRUE(taken[0].injected);
    EXPECT_FALSE(taken[0].executed);
    EXPECT_EQ(port.TakeWritten(), (Bytes{0x05, 0x01, 0x08, 0x0F})) << "length too short";
}

TEST_F(SendPacketTest, ArrayFormCarriesTheChosenLengthAndData)
{
    ChooseFunctionCode(2);
    ChooseLength(3);
    ChooseData(1, 0x10);
    ChooseData(2, 0x20);
    ChooseData(3, 0x30);
    ChooseData(4, 0x40); // beyond the length: not sent
    dialog.OnSend();
    EXPECT_EQ(Executed(), (std::vector<Bytes>{{0x82, 0x03, 0x10, 0x20, 0x30, 0xE6}}));
    EXPECT_EQ(dialog.checksumValue(), 0xE6);
}

TEST_F(SendPacketTest, StringFormCarriesTwoDataBytesAndTheText)
{
    Box(Dlg::kWriteStringBoxId)->click();
    QTest::keyClicks(TextField(), QStringLiteral("AB"));
    dialog.OnSend();
    EXPECT_EQ(Executed(), (std::vector<Bytes>{{0x81, 0x04, 0x00, 0x00, 0x41, 0x42, 0x09}}));

    TextField()->clear();
    ChooseData(1, 0x03);
    dialog.OnSend();
    EXPECT_EQ(Executed(), (std::vector<Bytes>{{0x81, 0x02, 0x03, 0x00, 0x87}}));
}

TEST_F(SendPacketTest, WriteStringCheckedButCodeTwoSendsTheArrayForm)
{
    Box(Dlg::kWriteStringBoxId)->click();
    TextField()->setText(QStringLiteral("AB"));
    ChooseFunctionCode(2);
    EXPECT_TRUE(Box(Dlg::kWriteStringBoxId)->isChecked());
    EXPECT_FALSE(Box(Dlg::kWriteStringBoxId)->isEnabled());
    dialog.OnSend();
    EXPECT_EQ(Executed(), (std::vector<Bytes>{{0x82, 0x01, 0x00, 0x84}}));
}

TEST_F(SendPacketTest, HandChosenChecksumIsReplacedByTheComputedOne)
{
    Box(Dlg::kAutoChecksumBoxId)->click();
    Choose(Dlg::kChecksumListId, 0x55);
    dialog.OnSend();
    EXPECT_EQ(Executed(), (std::vector<Bytes>{{0x81, 0x01, 0x00, 0x83}}));
    EXPECT_EQ(List(Dlg::kChecksumListId)->currentIndex(), 0x83);
}

TEST_F(SendPacketTest, TextFieldTakesAtMostWhatFitsTheReceiveBuffer)
{
    Box(Dlg::kWriteStringBoxId)->click();
    QTest::keyClicks(TextField(), QString(130, QLatin1Char('x')));
    EXPECT_EQ(TextField()->text().size(), 115);
    TextField()->setText(QString(300, QLatin1Char('y')));
    EXPECT_EQ(TextField()->text().size(), 115);

    dialog.OnSend();
    const std::vector<Bytes> frames = Executed();
    ASSERT_EQ(frames.size(), 1u);
    const Bytes& frame = frames[0];
    ASSERT_EQ(frame.size(), 120u);
    EXPECT_EQ(frame[1], 117);
    EXPECT_EQ(frame[119], FrameChecksum(frame.data(), 119));
}

TEST_F(SendPacketTest, FramesSentBeforeATickAreEachAnsweredInTurn)
{
    ChooseFunctionCode(2);
    ChooseLength(3);
    dialog.OnSend();
    ChooseLength(1);
    ChooseData(1, 0x7F);
    dialog.OnSend();
    EXPECT_EQ(Executed(), (std::vector<Bytes>{{0x82, 0x03, 0x00, 0x00, 0x00, 0x86}, {0x82, 0x01, 0x7F, 0x03}}));
    EXPECT_EQ(port.Writes().size(), 2u);
}

TEST_F(SendPacketTest, EnterSendsAndKeepsTheDialogOpenEscapeCloses)
{
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(engine.receiver().framesReceived(), 1u);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(SendPacketTest, OpensBesideThePanel)
{
    QWidget panel;
    panel.move(40, 60);
    panel.resize(302, 305);
    Dlg placed(engine, &panel);
    EXPECT_EQ(placed.pos(), panel.mapToGlobal(QPoint(DialogUnits(DialogFont()).X(200), 0)));
}

TEST_F(SendPacketTest, EveryTextFitsItsControl)
{
    ExpectTextsFit(dialog);
}

} // namespace
} // namespace quillon::testing
