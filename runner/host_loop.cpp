#include "runner/host_loop.h"

#include <chrono>

namespace quillon::runner {

HostLoop::HostLoop(PanelHost& host) : host_(host)
{
    host_.SetWake([this] {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        signal_.notify_one();
    });
}

HostLoop::~HostLoop()
{
    host_.SetWake({});
}

void HostLoop::Turn()
{
    {
        std::unique_lock lock(mutex_);
        signal_.wait_until(lock, host_.nextTick(), [this] { return woken_; });
        woken_ = false;
    }
    host_.Step(std::chrono::steady_clock::now() >= host_.nextTick());
}

bool HostLoop::TurnUntil(const std::function<bool()>& done, Moment until)
{
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        Turn();
    }
    return true;
}

} // namespace quillon::runner
