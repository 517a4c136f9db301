#pragma once

#include <string>

namespace quillon {

// A pseudo-terminal that stands in for a serial cable: the emulator holds one
// end (through SerialPort::OpenVirtualPort) and a device, a simulator or any
// serial tool opens the other by its path. The device end starts in raw
// 9600 8N1, so a program that does not set up the line itself still sees the
// bytes unchanged and nothing echoed back.
//
// The device may close its end and open it again at any time; until it does,
// the line is dead to the emulator. Destroying the virtual port ends the
// pseudo-terminal and removes the symbolic link it made.
class VirtualPort {
public:
    VirtualPort() = default;
    ~VirtualPort();
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    // Creates the pseudo-terminal and, when linkPath is not empty, a symbolic
    // link at linkPath to its device end. A symbolic link already there (left
    // by an earlier run) is replaced; any other file is left alone and the
    // call fails. Returns false with the reason in ErrorText().
    bool Create(const std::string& linkPath = {});

    // The device end's own path, such as /dev/pts/3.
    const std::string& DevicePath() const { return devicePath_; }
    // The path to tell the user: the link if there is one.
    const std::string& PathForDevice() const { return linkPath_.empty() ? devicePath_ : linkPath_; }
    const std::string& ErrorText() const { return error_; }

    // The emulator's end; -1 before Create has succeeded.
    int EmulatorDescriptor() const { return masterFd_; }

private:
    bool Fail(const std::string& what, int error);
    void Release();

    int masterFd_ = -1;
    std::string devicePath_;
    std::string linkPath_;
    std::string error_;
};

} // namespace quillon
