#include <initializer_list>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "tests/ui/ui_fakes.h"
#include "ui/comms_port_dialog.h"
#include "ui/dialog_units.h"

namespace quillon::testing {
namespace {

const QString kCheckLine = QStringLiteral("\r\nCheck correct COM port has been selected");

class CommsPortTest : public WindowTest {
protected:
    void SetUp() override
    {
        window = MakeWindow();
        port.opened.clear();
        port.calls.clear();
        port.linkEnabledAtOpen.clear();
    }

    // The user picks entry `index` from the list.
    static void Choose(CommsPortDialog& dialog, int index)
    {
        dialog.portList()->setCurrentIndex(index);
        emit dialog.portList()->activated(index);
    }

    // The closed list is wide enough for its widest entry, and the buttons
    // still stand beside it inside the dialog.
    static void ExpectEntriesShowWhole(const CommsPortDialog& dialog)
    {
        const QComboBox* list = dialog.portList();
        QComboBox probe;
        probe.setFont(list->font());
        probe.setSizeAdjustPolicy(QComboBox::AdjustToContents);
        for (int i = 0; i < list->count(); ++i) {
            probe.addItem(list->itemText(i));
        }
        EXPECT_GE(list->width(), probe.sizeHint().width());
        EXPECT_GE(dialog.pathField()->width(), list->width());
        EXPECT_GT(dialog.okButton()->x(), list->geometry().right());
        EXPECT_LE(dialog.okButton()->geometry().right(), dialog.width());
        ExpectTextsFit(dialog);
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(CommsPortTest, ListsCom1ToCom256ThenTheSerialDevicesFound)
{
    QTemporaryDir devices;
    for (const char* name :
         {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyS1", "ttyACM0", "ttyS0", "ttySX", "console", "ttyUSB", "tty0"}) {
        QFile file(devices.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto deviceWindow = MakeWindow(std::nullopt, devices.path());
    CommsPortDialog dialog(*deviceWindow);
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
    ExpectEntriesShowWhole(dialog);
}

TEST_F(CommsPortTest, PreselectsTheCurrentPort)
{
    window->SetComPort(3);
    EXPECT_EQ(CommsPortDialog(*window).portList()->currentText(), QStringLiteral("COM3:"));

    window->SetComPort(257);
    CommsPortDialog outOfRange(*window);
    EXPECT_EQ(outOfRange.portList()->currentIndex(), -1);
    EXPECT_TRUE(outOfRange.pathField()->text().isEmpty());

    window->SetCurrentPort(PortTarget::Device(QStringLiteral("/tmp/panel-link")));
    CommsPortDialog typed(*window);
    EXPECT_EQ(typed.portList()->currentIndex(), -1);
    EXPECT_EQ(typed.pathField()->text(), QStringLiteral("/tmp/panel-link"));
}

TEST_F(CommsPortTest, OkWithAFailingPortReportsTheStepStoresTheNumberAndResumesTheLink)
{
    port.failStep = 1;
    std::vector<bool> linkEnabledDuringMessage;
    messages.whileShown = [&] { linkEnabledDuringMessage.push_back(engine.linkEnabled()); };
    CommsPortDialog dialog(*window);
    Choose(dialog, 6);
    dialog.accept();

    EXPECT_EQ(port.calls, (std::vector<QString>{"close", "open"}));
    ASSERT_EQ(port.opened.size(), 1u);
    EXPECT_EQ(port.opened[0], PortTarget::Com(7));
    EXPECT_FALSE(port.linkEnabledAtOpen[0]);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, MessageIcon::Error);
    EXPECT_EQ(messages.shown[0].second, QStringLiteral("Error Initialising COM Port7 - Error 1") + kCheckLine);
    EXPECT_EQ(linkEnabledDuringMessage, std::vector<bool>{false});
    EXPECT_EQ(window->GetComPort(), 7);
    EXPECT_TRUE(engine.linkEnabled());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(CommsPortTest, EveryFailedStepIsNamedInTheMessage)
{
    for (int step = 1; step <= 5; ++step) {
        port.failStep = step;
        messages.shown.clear();
        CommsPortDialog dialog(*window);
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
    CommsPortDialog dialog(*window);
    dialog.accept();
    EXPECT_EQ(port.calls, (std::vector<QString>{"close", "open"}));
    EXPECT_EQ(port.opened.at(0), PortTarget::Com(1));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CommsPortTest, WithoutAPortChosenOkIsDisabledAndDoesNothing)
{
    window->SetComPort(257);
    CommsPortDialog dialog(*window);
    EXPECT_FALSE(dialog.okButton()->isEnabled()) << "the stored port is not in the list";

    Choose(dialog, 2);
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    QTest::keyClicks(dialog.pathField(), QStringLiteral("/dev/x"));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    // Cleared again: neither the list nor the field names a port.
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(dialog.pathField(), Qt::Key_Backspace);
    }
    EXPECT_EQ(dialog.SelectedPort(), std::nullopt);
    EXPECT_FALSE(dialog.okButton()->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_Return);
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(window->CurrentPort(), PortTarget::Com(257));
}

TEST_F(CommsPortTest, CancelChangesNothing)
{
    window->SetComPort(4);
    CommsPortDialog dialog(*window);
    Choose(dialog, 9);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(window->GetComPort(), 4);
    EXPECT_TRUE(engine.linkEnabled());
}

TEST_F(CommsPortTest, TypedDevicePathIsOpenedStoredAndReopenedAtTheNextStart)
{
    window->OnCommand(MainWindow::kSaveSettingsCommand);
    {
        CommsPortDialog dialog(*window);
        QTest::keyClicks(dialog.pathField(), QStringLiteral("/dev/serial/by-id/usb-panel"));
        EXPECT_EQ(dialog.portList()->currentIndex(), -1) << "typing clears the list's choice";
        dialog.accept();
    }
    EXPECT_EQ(port.opened.at(0), PortTarget::Device(QStringLiteral("/dev/serial/by-id/usb-panel")));
    EXPECT_EQ(window->GetComPort(), 1);
    window->close();

    PanelRig fresh;
    MainWindow next(fresh.Context(messages));
    EXPECT_EQ(fresh.port.opened.at(0), PortTarget::Device(QStringLiteral("/dev/serial/by-id/usb-panel")));

    // Choosing a COM entry again drops the stored path.
    CommsPortDialog back(next);
    Choose(back, 1);
    back.accept();
    EXPECT_EQ(next.CurrentPort(), PortTarget::Com(2));
}

TEST_F(CommsPortTest, PickingAnEntryClearsTheTypedPath)
{
    CommsPortDialog dialog(*window);
    QTest::keyClicks(dialog.pathField(), QStringLiteral("/dev/pts/9"));
    Choose(dialog, 2);
    EXPECT_TRUE(dialog.pathField()->text().isEmpty());
    EXPECT_EQ(dialog.SelectedPort(), PortTarget::Com(3));
}

TEST_F(CommsPortTest, VirtualPortOfTheRunIsListedLastAndPreselected)
{
    const PortTarget virtualPort = PortTarget::Virtual(QStringLiteral("/dev/pts/7"));
    auto virtualWindow = MakeWindow(virtualPort);
    CommsPortDialog dialog(*virtualWindow);
    EXPECT_EQ(dialog.portList()->currentIndex(), dialog.portList()->count() - 1);
    EXPECT_EQ(dialog.portList()->currentText(), QStringLiteral("Virtual port /dev/pts/7"));
    EXPECT_EQ(dialog.SelectedPort(), virtualPort);
    ExpectEntriesShowWhole(dialog);
}

TEST_F(CommsPortTest, WithTheComEntriesAloneTheDialogKeepsItsOwnSize)
{
    CommsPortDialog dialog(*window);
    const QSize comOnly = dialog.size();
    ExpectEntriesShowWhole(dialog);
    auto virtualWindow = MakeWindow(PortTarget::Virtual(QStringLiteral("/dev/pts/17")));
    CommsPortDialog wider(*virtualWindow);
    EXPECT_GT(wider.width(), comOnly.width());
    EXPECT_EQ(wider.height(), comOnly.height());
    EXPECT_EQ(dialog.portList()->width(), wider.portList()->width() - (wider.width() - comOnly.width()));
}

TEST_F(CommsPortTest, ATypedPathShowsWholeAndTheListAndButtonsStayWhereTheyWere)
{
    CommsPortDialog dialog(*window);
    const DialogUnits units(dialog.font());
    EXPECT_EQ(dialog.portList()->pos(), units.Rect(7, 7, 59, 0).topLeft());
    EXPECT_EQ(dialog.okButton()->geometry(), units.Rect(71, 7, 50, 14));
    QLineEdit* field = dialog.pathField();
    for (const QString& path : {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/tmp/bench-trial/panel-a"),
                                QStringLiteral("/dev/serial/by-id/usb-panel-if00")}) {
        field->setText(path);
        field->setCursorPosition(path.size());
        // The field's own frame and margins round the text.
        const int margins = field->width() - field->contentsRect().width() + 4;
        EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(path) + margins) << path.toStdString();
        EXPECT_TRUE(dialog.rect().contains(field->geometry())) << path.toStdString();
    }
    for (const QWidget* control : std::initializer_list<const QWidget*>{dialog.portList(), dialog.okButton()}) {
        EXPECT_FALSE(field->geometry().intersects(control->geometry()));
    }
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
