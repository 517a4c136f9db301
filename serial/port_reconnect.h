#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "link/link_events.h"

namespace quillon {

class SerialPort;

// Opens a serial port again after its line hangs up (the far end of a
// pseudo-terminal closed, a USB adapter pulled): the path it was opened at,
// once a second, until it opens and does not hang up at once. Runs on the
// thread that ticks the engine; tells the hang-up once and the port opened
// again once, never each try. A port opened or closed by someone else
// meanwhile (a dialog) ends the tries.
class PortReconnect {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRetryPeriod{1};

    // path: where the port was opened, asked at each hang-up; empty for a
    // port that has no path to open again.
    PortReconnect(SerialPort& port, std::function<std::string()> path, std::function<void(PortChange)> tell);

    // Looks at the line, and while it is down tries it again when a second
    // has passed since the last try.
    void Check(Clock::time_point now = Clock::now());

private:
    SerialPort& port_;
    std::function<std::string()> path_;
    std::function<void(PortChange)> tell_;
    std::string downPath_;
    bool down_ = false;
    Clock::time_point nextTry_;
};

} // namespace quillon
