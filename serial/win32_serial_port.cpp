#include "serial/win32_serial_port.h"

#include <algorithm>
#include <utility>

#include <windows.h>

namespace quillon {

namespace {

// How long a read made with nothing queued may wait for the first byte before
// the driver ends it empty. The reader's own waits are shorter and end the
// read themselves; this only bounds a wait whose end was missed.
constexpr DWORD kFirstByteWaitMs = 1000;

// Steps 2 and 3: 9600 baud, 8N1, no parity checking, no hardware flow
// control, RTS on, DTR off, and every transfer stopped on a line error until
// the error has been read (the reader reads it on every pass). The other
// fields keep what the driver reported.
int ConfigureLine(HANDLE port)
{
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(port, &settings)) {
        return kReadSettingsStep;
    }
    settings.BaudRate = CBR_9600;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    settings.fAbortOnError = TRUE;
    if (!SetCommState(port, &settings)) {
        return kWriteSettingsStep;
    }
    return 0;
}

// Steps 4 and 5. A read returns at once with whatever is queued; made with
// nothing queued it waits for the first byte, which is how the reader waits
// without spinning (ReadByte never lets a read wait). A write of n bytes
// gives up after 10 ms per byte plus 100 ms.
int ConfigureTimeouts(HANDLE port)
{
    COMMTIMEOUTS current{};
    if (!GetCommTimeouts(port, &current)) {
        return kReadTimeoutsStep;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kFirstByteWaitMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = kWriteBaseMs;
    if (!SetCommTimeouts(port, &timeouts)) {
        return kWriteTimeoutsStep;
    }
    return 0;
}

// Empties both queues of a port just opened and returns how many received
// bytes were dropped: counted just before, so a byte that arrives in between
// goes uncounted. A driver that cannot purge keeps its bytes, and none are
// counted as dropped.
std::size_t DropQueuedBytes(HANDLE port)
{
    DWORD errors = 0;
    COMSTAT status{};
    const DWORD queued = ClearCommError(port, &errors, &status) ? status.cbInQue : 0;
    if (!PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR)) {
        return 0;
    }
    return queued;
}

DWORD MillisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Waits for an overlapped transfer until it is done, the close event is set
// or the deadline passes; a transfer still running then is cancelled. Returns
// the bytes moved, or nothing when the transfer failed or was cancelled
// before it moved any. timedOut tells whether the deadline ended the wait.
std::optional<DWORD> Finish(HANDLE port, OVERLAPPED& transfer, HANDLE closing,
                            std::chrono::steady_clock::time_point deadline, bool& timedOut)
{
    timedOut = false;
    const HANDLE events[2] = {transfer.hEvent, closing};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, MillisecondsUntil(deadline));
    if (woke != WAIT_OBJECT_0) {
        timedOut = woke == WAIT_TIMEOUT;
        CancelIoEx(port, &transfer);
    }
    DWORD moved = 0;
    // A transfer cancelled after it completed keeps its result.
    if (!GetOverlappedResult(port, &transfer, &moved, TRUE)) {
        return std::nullopt;
    }
    return moved;
}

} // namespace

SerialPort::SerialPort()
    : closing_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), readDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      writeDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

SerialPort::~SerialPort()
{
    Close();
    for (const Handle event : {closing_, readDone_, writeDone_}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
}

int SerialPort::OpenCommPort(const std::string& devicePath)
{
    Close();
    const std::optional<int> number = ComPortNumber(devicePath);
    const std::string path = number ? ComPortPath(*number) : devicePath;
    // No sharing: a port open here cannot be opened by anyone else.
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return Failed(kOpenStep);
    }
    int step = ConfigureLine(port);
    if (step == 0) {
        step = ConfigureTimeouts(port);
    }
    if (step != 0) {
        step = Failed(step);
        CloseHandle(port);
        return step;
    }
    openError_ = 0;
    droppedOnOpen_ = DropQueuedBytes(port);
    {
        std::lock_guard lock(mutex_);
        handle_ = port;
        ++generation_;
    }
    changed_.notify_all();
    return 0;
}

int SerialPort::OpenVirtualPort(const VirtualPort&)
{
    Close();
    SetLastError(ERROR_NOT_SUPPORTED);
    return Failed(kOpenStep);
}

int SerialPort::Failed(int step)
{
    openError_ = static_cast<int>(GetLastError());
    return step;
}

void SerialPort::Close()
{
    HANDLE port = nullptr;
    {
        std::unique_lock lock(mutex_);
        if (handle_ == nullptr) {
            return;
        }
        port = std::exchange(handle_, nullptr);
        held_.reset();
        ++generation_;
        if (borrowers_ > 0) {
            SetEvent(closing_);
            changed_.wait(lock, [this] { return borrowers_ == 0; });
            ResetEvent(closing_);
        }
    }
    changed_.notify_all();
    CloseHandle(port);
}

bool SerialPort::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return handle_ != nullptr;
}

SerialPort::Handle SerialPort::Borrow()
{
    std::lock_guard lock(mutex_);
    if (handle_ != nullptr) {
        ++borrowers_;
    }
    return handle_;
}

void SerialPort::GiveBack()
{
    {
        std::lock_guard lock(mutex_);
        --borrowers_;
    }
    changed_.notify_all();
}

bool SerialPort::HungUp() const
{
    std::lock_guard lock(mutex_);
    DWORD errors = 0;
    COMSTAT status{};
    return handle_ != nullptr && ClearCommError(handle_, &errors, &status) == 0;
}

bool SerialPort::BytesWaiting(std::size_t& count)
{
    std::lock_guard lock(mutex_);
    if (handle_ == nullptr) {
        return false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    const bool queried = ClearCommError(handle_, &errors, &status) != 0;
    // A byte the wait brought in is counted even when the line has failed
    // since: until it is read, every wait returns at once for it.
    if (!queried && !held_) {
        return false;
    }
    count = (queried ? status.cbInQue : 0) + (held_ ? 1 : 0);
    return true;
}

bool SerialPort::ReadByte(std::uint8_t& byte)
{
    std::lock_guard lock(mutex_);
    if (handle_ == nullptr) {
        return false;
    }
    if (held_) {
        byte = *std::exchange(held_, std::nullopt);
        return true;
    }
    OVERLAPPED transfer{};
    transfer.hEvent = readDone_;
    if (!ReadFile(handle_, &byte, 1, nullptr, &transfer)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        // Nothing was queued after all: a read never waits.
        CancelIoEx(handle_, &transfer);
    }
    DWORD moved = 0;
    return GetOverlappedResult(handle_, &transfer, &moved, TRUE) && moved == 1;
}

bool SerialPort::Write(const std::uint8_t* data, std::size_t length)
{
    // The driver holds the same bound; kept here as well for drivers that
    // ignore write time-outs.
    const auto deadline = std::chrono::steady_clock::now() + WriteTimeout(length);
    const HANDLE port = Borrow();
    if (port == nullptr) {
        return false;
    }
    OVERLAPPED transfer{};
    transfer.hEvent = writeDone_;
    std::optional<DWORD> sent;
    if (WriteFile(port, data, static_cast<DWORD>(length), nullptr, &transfer) || GetLastError() == ERROR_IO_PENDING) {
        bool timedOut = false;
        sent = Finish(port, transfer, closing_, deadline, timedOut);
    }
    GiveBack();
    return sent == length;
}

void SerialPort::WaitForInput(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint64_t generation = 0;
    HANDLE port = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (held_) {
            return;
        }
        generation = generation_;
        port = handle_;
        if (port != nullptr) {
            ++borrowers_;
        }
    }
    if (port != nullptr) {
        // Clears a line error first, which would otherwise end the read at
        // once; bytes already queued need no wait.
        DWORD errors = 0;
        COMSTAT status{};
        const bool alive = ClearCommError(port, &errors, &status) != 0;
        std::uint8_t byte = 0;
        std::optional<DWORD> moved;
        bool timedOut = false;
        if (alive && status.cbInQue == 0) {
            OVERLAPPED transfer{};
            transfer.hEvent = readDone_;
            if (ReadFile(port, &byte, 1, nullptr, &transfer) || GetLastError() == ERROR_IO_PENDING) {
                moved = Finish(port, transfer, closing_, deadline, timedOut);
            }
        }
        bool closing = false;
        {
            std::lock_guard lock(mutex_);
            closing = generation_ != generation;
            if (moved == 1u && !closing) {
                held_ = byte;
            }
            --borrowers_;
        }
        changed_.notify_all();
        if ((alive && status.cbInQue > 0) || moved == 1u || timedOut || closing) {
            return;
        }
    }
    // No port, a line that fails instead of waiting (a device unplugged) or a
    // driver that ended the read early and empty: sleep out the wait instead,
    // so the reader never spins, but wake up as soon as a port is opened or
    // closed.
    SleepOut(deadline, generation);
}

void SerialPort::SleepOut(std::chrono::steady_clock::time_point deadline, std::uint64_t generation)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return generation_ != generation; });
}

} // namespace quillon
