#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/engine_interfaces.h"

namespace quillon {

// The panel's end of whichever line is in use now, so the line under the
// pacing and the faults can be changed while the link is paused (a serial
// port chosen in place of the run's own line, and back), or a silent line
// when none is.
class SwitchedPort final : public PanelPort {
public:
    void Use(PanelPort* port) { active_.store(port); }
    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;
    std::uint32_t ReplyHoldMs() override;
    bool LineEnded() const override;

private:
    std::atomic<PanelPort*> active_{nullptr};
};

} // namespace quillon
