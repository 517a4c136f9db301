#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/engine_interfaces.h"

namespace quillon {

// The device path for COM port n: /dev/ttyS{n-1}.
std::string ComPortPath(int portNumber);

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
    void Close();
    bool IsOpen() const;

    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;
};

} // namespace quillon
