#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon {

// The column run that WriteColumnRun hands to the view for painting.
struct DrawRequest {
    std::array<std::uint8_t, 128> bytes{};
    std::uint8_t startColumn = 0;
    std::uint8_t topRow = 0; // page * 8
    std::uint8_t length = 0;
};

// What the engine needs of the panel view. Everything here is called on the
// UI thread only.
class PanelView {
public:
    virtual ~PanelView() = default;
    // Paint the run into the display image and copy the display image into
    // the panel picture.
    virtual void DrawColumnRun(const DrawRequest& request) = 0;
    // Repaint the window now; returns once the new picture is on screen.
    virtual void RepaintNow() = 0;

    // Key latch.
    virtual std::uint8_t GetKeyBits() const = 0;
    virtual void SetKeyBits(std::uint8_t value) = 0;
    virtual bool IsKeyReleased() const = 0;
};

// What the engine needs of the serial port. BytesWaiting, ReadByte and
// WaitForInput are called from the reader thread, Write from the UI thread;
// an implementation must allow both at once and tolerate being closed or
// reopened by the UI thread while the reader waits.
class PanelPort {
public:
    virtual ~PanelPort() = default;
    // Number of bytes queued for reading; false when the port cannot be
    // queried (not open, device gone), which the reader treats as none.
    virtual bool BytesWaiting(std::size_t& count) = 0;
    // Reads exactly one byte without blocking; false if none could be read.
    virtual bool ReadByte(std::uint8_t& byte) = 0;
    // Writes all bytes in one call, giving up after the port's write time-out.
    virtual bool Write(const std::uint8_t* data, std::size_t length) = 0;
    // Blocks until input may be waiting or timeoutMs have passed. Must not
    // return at once over and over while nothing can be read (a closed port,
    // a hung-up line), so the reader never spins.
    virtual void WaitForInput(int timeoutMs) = 0;
};

// The millisecond up-time clock. Time-outs compare unsigned 32-bit
// differences, so the value may wrap. Called from both threads.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t NowMs() = 0;
};

} // namespace quillon
