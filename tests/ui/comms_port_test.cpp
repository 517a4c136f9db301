#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "tests/ui/ui_fakes.h"
#include "ui/comms_port_dlg.h"

namespace quillon::testing {
namespace {

const QString kCheckLine = QStringLiteral("\r\nCheck correct COM port has been selected");

class CommsPortTest : public FrameTest {
protected:
    void SetUp() override
    {
        frame = MakeFrame();
        port.opened.clear();
        port.calls.clear();
        port.linkEnabledAtOpen.clear();
    }

    // The user picks entry `index` from the list.
    static void Choose(CCommsPort& dialog, int index)
    {
        dialog.portList()->setCurrentIndex(index);
        emit dialog.portList()->activated(index);
    }

    std::unique_ptr<CMainFrame> frame;
};

TEST_F(CommsPortTest, ListsCom1ToCom256ThenTheSerialDevicesFound)
{
    QTemporaryDir devices;
    for (const char* name :
         {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyS1", "ttyACM0", "ttyS0", "ttySX", "console", "ttyUSB", "tty0"}) {
        QFile file(devices.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto deviceFrame = MakeFrame(std::nullopt, devices.path());
    CCommsPort dialog(*deviceFrame);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Comms Port"));
    ExpectTextsFit(dialog);
    QComboBox* list = dialog.portList();
    ASSERT_EQ(list->count(), 256 + 6);
    EXPECT_EQ(list->itemText(0), QStringLiteral("COM1:"));
    EXPECT_EQ(list->itemText(9), QStringLiteral("COM10:"));
    EXPECT_EQ(list->itemText(255), QStringLiteral("COM256:"));
    QStringList found;
    for (int i = 256; i < list->count(); ++i) {
        found << QDir(devices.path()).relativeFilePath(list->itemText(i));
    }
    EXPECT_EQ(found, (QStringList{"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS1"}));
}

TEST_F(CommsPortTest, PreselectsTheCurrentPort)
{
    frame->SetComPort(3);
    EXPECT_EQ(CCommsPort(*frame).portList()->currentText(), QStringLiteral("COM3:"));

    frame->SetComPort(257);
    CCommsPort outOfRange(*frame);
    EXPECT_EQ(outOfRange.portList()->currentIndex(), -1);
    EXPECT_TRUE(outOfRange.pathField()->text().isEmpty());

    frame->SetCurrentPort(PortTarget::Device(QStringLiteral("/tmp/panel-link")));
    CCommsPort typed(*frame);
    EXPECT_EQ(typed.portList()->currentIndex(), -1);
    EXPECT_EQ(typed.pathField()->text(), QStringLiteral("/tmp/panel-link"));
}

TEST_F(CommsPortTest, OkWithAFailingPortReportsTheStepStoresTheNumberAndResumesTheLink)
{
    port.failStep = 1;
    std::vector<std::uint8_t> linkEnabledDuringMessage;
    messages.whileShown = [&] { linkEnabledDuringMessage.push_back(state.linkEnabled); };
    CCommsPort dialog(*frame);
    Choose(dialog, 6);
    dialog.accept();

    EXPECT_EQ(port.calls, (std::vector<QString>{"close", "open"}));
    ASSERT_EQ(port.opened.size(), 1u);
    EXPECT_EQ(port.opened[0], PortTarget::Com(7));
    EXPECT_EQ(port.linkEnabledAtOpen[0], 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, MessageIcon::Error);
    EXPECT_EQ(messages.shown[0].second, QStringLiteral("Error Initialising COM Port7 - Error 1") + kCheckLine);
    EXPECT_EQ(linkEnabledDuringMessage, std::vector<std::uint8_t>{0});
    EXPECT_EQ(frame->GetComPort(), 7);
    EXPECT_EQ(state.linkEnabled, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(CommsPortTest, EveryFailedStepIsNamedInTheMessage)
{
    for (int step = 1; step <= 5; ++step) {
        port.failStep = step;
        messages.shown.clear();
        CCommsPort dialog(*frame);
        Choose(dialog, 255);
        dialog.accept();
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].second,
                  QStringLiteral("Error Initialising COM Port256 - Error %1").arg(step) + kCheckLine);
    }
    EXPECT_EQ(port.opened.back(), PortTarget::Com(256));
}

TEST_F(CommsPortTest, OkWithTheSamePortReopensItQuietly)
{
    CCommsPort dialog(*frame);
    dialog.accept();
    EXPECT_EQ(port.calls, (std::vector<QString>{"close", "open"}));
    EXPECT_EQ(port.opened.at(0), PortTarget::Com(1));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CommsPortTest, NoSelectionMeansPortZero)
{
    frame->SetComPort(0);
    port.failStep = 1;
    CCommsPort dialog(*frame);
    dialog.accept();
    EXPECT_EQ(port.opened.at(0), PortTarget::Com(0));
    EXPECT_EQ(messages.shown.at(0).second, QStringLiteral("Error Initialising COM Port0 - Error 1") + kCheckLine);
    EXPECT_EQ(frame->GetComPort(), 0);
}

TEST_F(CommsPortTest, CancelChangesNothing)
{
    frame->SetComPort(4);
    CCommsPort dialog(*frame);
    Choose(dialog, 9);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(frame->GetComPort(), 4);
    EXPECT_EQ(state.linkEnabled, 1);
}

TEST_F(CommsPortTest, TypedDevicePathIsOpenedStoredAndReopenedAtTheNextStart)
{
    frame->OnCommand(CMainFrame::kSaveSettingsCommand);
    {
        CCommsPort dialog(*frame);
        QTest::keyClicks(dialog.pathField(), QStringLiteral("/dev/serial/by-id/usb-panel"));
        EXPECT_EQ(dialog.portList()->currentIndex(), -1) << "typing clears the list's choice";
        dialog.accept();
    }
    EXPECT_EQ(port.opened.at(0), PortTarget::Device(QStringLiteral("/dev/serial/by-id/usb-panel")));
    EXPECT_EQ(frame->GetComPort(), 1);
    frame->close();

    LinkState fresh;
    FakePortControl freshPort(fresh);
    CMainFrame next(FrameContext{fresh, freshPort, clock, messages, std::nullopt, {}});
    EXPECT_EQ(freshPort.opened.at(0), PortTarget::Device(QStringLiteral("/dev/serial/by-id/usb-panel")));

    // Choosing a COM entry again drops the stored path.
    CCommsPort back(next);
    Choose(back, 1);
    back.accept();
    EXPECT_EQ(next.CurrentPort(), PortTarget::Com(2));
}

TEST_F(CommsPortTest, PickingAnEntryClearsTheTypedPath)
{
    CCommsPort dialog(*frame);
    QTest::keyClicks(dialog.pathField(), QStringLiteral("/dev/pts/9"));
    Choose(dialog, 2);
    EXPECT_TRUE(dialog.pathField()->text().isEmpty());
    EXPECT_EQ(dialog.SelectedPort(), PortTarget::Com(3));
}

TEST_F(CommsPortTest, VirtualPortOfTheRunIsListedLastAndPreselected)
{
    const PortTarget virtualPort = PortTarget::Virtual(QStringLiteral("/dev/pts/7"));
    auto virtualFrame = MakeFrame(virtualPort);
    CCommsPort dialog(*virtualFrame);
    EXPECT_EQ(dialog.portList()->currentIndex(), dialog.portList()->count() - 1);
    EXPECT_EQ(dialog.portList()->currentText(), QStringLiteral("Virtual port /dev/pts/7"));
    EXPECT_EQ(dialog.SelectedPort(), virtualPort);
}

TEST(SerialPortControlTest, OpensDevicesAndTheVirtualPortWithTheSerialPort)
{
    SerialPort serial;
    VirtualPort virtualPort;
    ASSERT_TRUE(virtualPort.Create());
    SerialPortControl withVirtual(serial, &virtualPort);
    EXPECT_EQ(withVirtual.Open(PortTarget::Device(QStringLiteral("/nonexistent/ttyUSB0"))), 1);
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_EQ(withVirtual.Open(PortTarget::Virtual(QString())), 0);
    EXPECT_TRUE(serial.IsOpen());
    withVirtual.Close();
    EXPECT_FALSE(serial.IsOpen());

    SerialPortControl withoutVirtual(serial, nullptr);
    EXPECT_EQ(withoutVirtual.Open(PortTarget::Virtual(QString())), 1);
}

} // namespace
} // namespace quillon::testing
