#include "serial/port_reconnect.h"

#include <utility>

#include "serial/serial_port.h"

namespace quillon {

PortReconnect::PortReconnect(SerialPort& port, std::function<std::string()> path, std::function<void(PortChange)> tell)
    : port_(port), path_(std::move(path)), tell_(std::move(tell))
{
}

void PortReconnect::Check(Clock::time_point now)
{
    if (!down_) {
        if (!port_.HungUp()) {
            return;
        }
        downPath_ = path_();
        if (downPath_.empty()) {
            return;
        }
        // Closed at once: the reader sleeps on a closed port instead of
        // waking for a line that only ever reports its hang-up.
        port_.Close();
        down_ = true;
        nextTry_ = now + kRetryPeriod;
        tell_(PortChange::HungUp);
        return;
    }
    if (port_.IsOpen() || path_() != downPath_) {
        down_ = false;
        return;
    }
    if (now < nextTry_) {
        return;
    }
    nextTry_ = now + kRetryPeriod;
    // A node that opens but hangs up at once (the far end not back yet) is
    // not the line back.
    if (port_.OpenCommPort(downPath_) != 0 || port_.HungUp()) {
        port_.Close();
        return;
    }
    down_ = false;
    tell_(PortChange::OpenedAgain);
}

} // namespace quillon
