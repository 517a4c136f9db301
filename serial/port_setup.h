#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The five steps that open a port for the panel link, in their order. A port's
// open returns 0 or the number of the step that failed, and that number is
// what the user sees in the error message, so it is the same on every system.
enum SetupStep : int {
    kOpenStep = 1,
    kReadSettingsStep = 2,
    kWriteSettingsStep = 3,
    kReadTimeoutsStep = 4,
    kWriteTimeoutsStep = 5,
};

// A write of n bytes gives up after 10 ms per byte plus 100 ms. At 9600 baud a
// byte takes about 1 ms on the wire, so only a stalled line reaches the bound.
constexpr int kWriteMsPerByte = 10;
constexpr int kWriteBaseMs = 100;

constexpr std::chrono::milliseconds WriteTimeout(std::size_t length)
{
    return std::chrono::milliseconds(kWriteBaseMs + kWriteMsPerByte * static_cast<long long>(length));
}

// The device path of COM port n (counted from 1) on this system:
// /dev/ttyS{n-1} on Linux; \\.\COMn on Windows, the form that reaches COM10
// and above as well as COM1 to COM9.
std::string ComPortPath(int portNumber);

// The number of a port named the way Windows users name it, "COM7", "com7:"
// or "\\.\COM7"; none for any other text.
std::optional<int> ComPortNumber(std::string_view name);

// What a failed set-up step could not do, in words: "it could not be opened".
std::string SetupStepText(int step);

// The reason the system gives for an error code (an errno value on POSIX, a
// Win32 error code on Windows), in its own words.
std::string SystemErrorText(int error);

// The reason the system gave for the last failed call of this thread.
std::string LastSystemError();
// Its error code, to be read before any other call can change it.
int LastSystemErrorCode();

// "cannot use PATH (set-up step N failed: what it could not do): the
// system's reason", for a port that cannot be used; a missing port's reason
// names the COM ports there are.
std::string PortFailure(const std::string& path, int step, int error);

} // namespace quillon
