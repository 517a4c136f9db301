#include "serial/port_setup.h"

#include "serial/com_ports.h"

#include <cctype>
#include <charconv>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

namespace quillon {

namespace {

// The COM numbers a port may have; the Comms Port dialog offers the same.
constexpr int kHighestComPort = 256;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string ComPortPath(int portNumber)
{
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(portNumber);
#else
    // Widened first: COM numbers below 1 name no device, and the lowest would
    // overflow on the way.
    return "/dev/ttyS" + std::to_string(static_cast<long long>(portNumber) - 1);
#endif
}

std::optional<int> ComPortNumber(std::string_view name)
{
    if (name.starts_with("\\\\.\\")) {
        name.remove_prefix(4);
    }
    if (!StartsWithNoCase(name, "COM")) {
        return std::nullopt;
    }
    name.remove_prefix(3);
    if (name.ends_with(':')) {
        name.remove_suffix(1);
    }
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (name.empty() || name.front() == '0' || error != std::errc{} || end != name.data() + name.size() ||
        number > kHighestComPort) {
        return std::nullopt;
    }
    return number;
}

std::string SetupStepText(int step)
{
    switch (step) {
    case kOpenStep:
        return "it could not be opened";
    case kReadSettingsStep:
    case kWriteSettingsStep:
        return "its line settings (9600 8N1) could not be made";
    default:
        return "its time-outs could not be set";
    }
}

std::string SystemErrorText(int error)
{
#ifdef _WIN32
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "system error " + std::to_string(error) : reason;
#else
    return std::strerror(error);
#endif
}

std::string LastSystemError()
{
    return SystemErrorText(LastSystemErrorCode());
}

int LastSystemErrorCode()
{
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

std::string PortFailure(const std::string& path, int step, int error)
{
    std::string text =
        "cannot use " + path + " (set-up step " + std::to_string(step) + " failed: " + SetupStepText(step) + ")";
    if (error == 0) {
        return text;
    }
    return text + ": " + (IsMissingPortError(error) ? MissingPortText(FoundComPorts()) : SystemErrorText(error));
}

} // namespace quillon
