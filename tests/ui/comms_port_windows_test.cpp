// The Comms Port dialog on Windows, with COM ports of its own in the
// registry: the list keeps COM1: to COM256: as they are and adds the PC's
// ports after them, marked.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include <QComboBox>
#include <QLineEdit>

#include "tests/ui/ui_fakes.h"
#include "ui/comms_port_dialog.h"

namespace quillon::testing {
namespace {

// The ports this PC has as drivers list them, under names of the driver's
// devices; added for each test and removed after it.
const wchar_t* const kSerialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::vector<std::pair<std::wstring, std::wstring>> kPorts = {
    {L"\\Device\\QuillonTest\\Port7", L"COM7"},
    {L"\\Device\\QuillonSerial1", L"COM1"},
};

class CommsPortWindowsTest : public WindowTest {
protected:
    void SetUp() override
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            GTEST_SKIP() << "the machine's serial ports cannot be listed here without an administrator";
        }
        for (const auto& [name, port] : kPorts) {
            RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                           static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
        added_ = true;
    }

    void TearDown() override
    {
        HKEY key = nullptr;
        if (added_ && RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            for (const auto& entry : kPorts) {
                RegDeleteValueW(key, entry.first.c_str());
            }
            RegCloseKey(key);
        }
    }

    bool added_ = false;
};

TEST_F(CommsPortWindowsTest, ListsCom1ToCom256ThenThePortsOfThisPcMarked)
{
    auto window = MakeWindow();
    CommsPortDialog dialog(*window);
    const QComboBox* list = dialog.portList();
    ASSERT_GT(list->count(), 256);
    for (int n = 1; n <= 256; ++n) {
        ASSERT_EQ(list->itemText(n - 1), QStringLiteral("COM%1:").arg(n));
    }
    QStringList found;
    for (int i = 256; i < list->count(); ++i) {
        found << list->itemText(i);
    }
    // Wine lists ports of its own; the PC's are in number order wherever they
    // fall among them.
    const auto at1 = found.indexOf(QStringLiteral("COM1: (on this PC)"));
    const auto at7 = found.indexOf(QStringLiteral("COM7: (on this PC)"));
    ASSERT_GE(at1, 0) << found.join(QLatin1Char('|')).toStdString();
    EXPECT_GT(at7, at1) << found.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(found.count(QStringLiteral("COM7: (on this PC)")), 1);
    EXPECT_EQ(dialog.pathField()->placeholderText(), QStringLiteral("\\\\.\\COM7 or COM7"));
}

} // namespace
} // namespace quillon::testing
