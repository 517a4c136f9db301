#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "link/engine_interfaces.h"
#include "serial/port_setup.h"

namespace quillon {

class VirtualPort;

// A COM port configured for the panel link (9600 baud, 8N1, no flow control,
// RTS on, DTR off, reads that return at once, writes bounded to 10 ms per
// byte plus 100 ms), opened for exclusive use: the Windows twin of the POSIX
// SerialPort, with the same face.
//
// The handle is opened for overlapped I/O. On a handle opened without it,
// Windows runs one request at a time, so the reader's wait for input would
// hold up every reply written from the other thread. The reader waits with a
// read of one byte that ends when a byte arrives, the wait's time is up or
// the port closes; the byte it brings is kept and handed out first.
//
// The reader thread calls BytesWaiting, ReadByte and WaitForInput while the
// other thread may Write, Close and Open again; no call ever uses a handle
// that has been closed.
class SerialPort : public PanelPort {
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens and configures the port in five steps: 1 open, 2 read the line
    // settings, 3 write them, 4 read the time-outs, 5 write them. Returns 0 on
    // success, otherwise the number of the step that failed; the port is
    // then closed. Any port already open is closed
    // first. "COM7", "COM7:" and "\\.\COM7" all name COM port 7; any other
    // text is taken as a device path.
    int OpenCommPort(const std::string& devicePath);
    // Windows has no pseudo-terminals: always fails at step 1.
    int OpenVirtualPort(const VirtualPort& port);
    void Close();
    bool IsOpen() const;
    // The device went away (a USB adapter pulled): its state can no longer
    // be queried. Does not wait.
    bool HungUp() const;
    // Why the last open failed, as the system said it (a Win32 error code,
    // as GetLastError gives it); 0 after a success. Opening runs on one
    // thread only, so this needs no lock.
    int lastOpenError() const { return openError_; }
    // The bytes the last successful open found queued from before it, which
    // it dropped: a device that polled the closed line leaves its blocks in
    // the driver, and the panel starts from a clean line.
    std::size_t droppedOnOpen() const { return droppedOnOpen_; }

    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;

private:
    // A Win32 HANDLE, kept as what it is underneath so this header needs no
    // system header.
    using Handle = void*;

    // Keeps GetLastError as the reason of a failed step; returns the step.
    int Failed(int step);
    // Marks the handle as in use outside the mutex; null when closed.
    Handle Borrow();
    void GiveBack();
    // Sleeps until the deadline or until the port is opened or closed.
    void SleepOut(std::chrono::steady_clock::time_point deadline, std::uint64_t generation);

    mutable std::mutex mutex_;
    // Signalled when borrowers reach zero and when the port opens or closes.
    std::condition_variable changed_;
    Handle handle_ = nullptr;
    // Calls that use handle_ without holding the mutex (a wait, a write);
    // Close waits for them before it closes the handle.
    int borrowers_ = 0;
    // Counts opens and closes, so a caller sleeping out a dead line notices
    // a port switch at once.
    std::uint64_t generation_ = 0;
    // The byte the reader's wait brought in, not yet handed out.
    std::optional<std::uint8_t> held_;
    // Set while Close wants borrowers out of their wait.
    Handle closing_ = nullptr;
    // Completion events: reads come from the reader thread only, writes from
    // the thread that ticks the engine only.
    Handle readDone_ = nullptr;
    Handle writeDone_ = nullptr;
    int openError_ = 0;
    std::size_t droppedOnOpen_ = 0;
};

} // namespace quillon
