#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "host/panel_host.h"

namespace quillon::runner {

// The runner's one thread driving the panel host: it sleeps until the next
// tick is due, a block waits for its reply or work was posted, and then does
// what is due.
class HostLoop {
public:
    using Moment = PanelHost::Moment;

    explicit HostLoop(PanelHost& host);
    ~HostLoop();
    HostLoop(const HostLoop&) = delete;
    HostLoop& operator=(const HostLoop&) = delete;

    PanelHost& host() { return host_; }
    // One turn: waits, then does what is due.
    void Turn();
    // Turns until done() holds (true), or until the moment passes (false).
    bool TurnUntil(const std::function<bool()>& done, Moment until);

private:
    PanelHost& host_;
    std::mutex mutex_;
    std::condition_variable signal_;
    bool woken_ = false;
};

} // namespace quillon::runner
