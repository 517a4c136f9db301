#include <algorithm>
#include <string>

#include <windows.h>

#include "serial/com_ports.h"
#include "serial/port_setup.h"

namespace quillon {

namespace {

// Every COM port the system knows of is a value of this key, named for the
// driver's device ("\Device\Serial0") and holding the port's name ("COM3").
constexpr const wchar_t* kSerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The longest value name the registry allows, with its terminating null.
constexpr DWORD kLongestValueName = 16384;

} // namespace

std::vector<int> FoundComPorts()
{
    std::vector<int> numbers;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return numbers;
    }
    std::wstring name(kLongestValueName, L'\0');
    wchar_t data[64];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kLongestValueName;
        DWORD type = 0;
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        const LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        // Data need not end with a null; the port's name is the text before
        // the first one.
        data[dataSize / sizeof(wchar_t)] = L'\0';
        std::string port;
        for (const wchar_t* c = data; *c != L'\0'; ++c) {
            port += *c < 0x80 ? static_cast<char>(*c) : '?';
        }
        if (const auto number = ComPortNumber(port)) {
            numbers.push_back(*number);
        }
    }
    RegCloseKey(key);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

bool IsMissingPortError(int error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

} // namespace quillon
