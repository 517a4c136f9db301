#pragma once

#ifdef _WIN32
// The Windows build has its own SerialPort, with the same face.
#include "serial/win32_serial_port.h"
#else

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "link/engine_interfaces.h"
#include "serial/port_setup.h"

namespace quillon {

class VirtualPort;

// A serial port configured for the panel link (9600 baud, 8N1, raw, no flow
// control, RTS on, DTR off, reads that return at once, writes bounded to
// 10 ms per byte plus 100 ms), opened for exclusive use.
//
// The reader thread calls BytesWaiting, ReadByte and WaitForInput while the
// UI thread may Close and Open again; no call ever uses a descriptor that has
// been closed or reused.
class SerialPort : public PanelPort {
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens and configures the device in five steps: 1 open, 2 read the line
    // settings, 3 write them, 4 read the time-outs, 5 write them. Returns 0 on
    // success, otherwise the number of the step that failed; the port is then
    // closed. Any port already open is closed first.
    int OpenCommPort(const std::string& devicePath);
    // Takes the emulator's end of a virtual port, configured by the same
    // steps; step 1 is taking the descriptor. The virtual port keeps the
    // pseudo-terminal alive, so closing this port and opening it again later
    // finds the same device end.
    int OpenVirtualPort(const VirtualPort& port);
    void Close();
    bool IsOpen() const;
    // The line reports a hang-up or an error instead of data: the far end of
    // a pseudo-terminal closed, or the device went away. Does not wait.
    bool HungUp() const;
    // Why the last open failed, as the system said it (an errno value); 0
    // after a success or a failure the system gave no reason for. Opening
    // runs on one thread only, so this needs no lock.
    int lastOpenError() const { return openError_; }
    // A device file keeps what was queued before it opened, as a
    // pseudo-terminal does, and the receiver tells each of those bytes: an
    // open here drops none.
    std::size_t droppedOnOpen() const { return 0; }

    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;

private:
    // Publishes a descriptor that has passed step 1 once steps 2 to 5 have
    // configured it; closes it otherwise. Returns 0 or the failed step.
    int Adopt(int fd);
    // Keeps errno as the reason of a failed step; returns the step.
    int Failed(int step);
    // Marks the descriptor as in use outside the mutex; -1 when closed.
    int Borrow();
    void GiveBack();

    mutable std::mutex mutex_;
    // Signalled when borrowers reach zero and when the port opens or closes.
    std::condition_variable changed_;
    int fd_ = -1;
    // Calls that use fd_ without holding the mutex (a wait, a write); Close
    // waits for them before it releases the descriptor, so its number cannot
    // be reused under them.
    int borrowers_ = 0;
    // Counts opens and closes, so a caller sleeping out a dead line notices
    // a port switch at once.
    std::uint64_t generation_ = 0;
    // Readable while Close wants borrowers out of their poll.
    int wakeFd_ = -1;
    int openError_ = 0;
};

} // namespace quillon

#endif
