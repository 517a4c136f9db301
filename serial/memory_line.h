#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "link/engine_interfaces.h"

namespace quillon {

// A line between two ports of one process, the cable of an emulated panel and
// an emulated device: what one end writes the other reads, at once and in
// order. Standard C++ only, so it works wherever the engine does.
class MemoryLine {
public:
    MemoryLine() = default;
    MemoryLine(const MemoryLine&) = delete;
    MemoryLine& operator=(const MemoryLine&) = delete;

    PanelPort& panelEnd() { return panelEnd_; }
    PanelPort& deviceEnd() { return deviceEnd_; }

private:
    // The bytes travelling one way.
    struct Direction {
        std::mutex mutex;
        std::condition_variable arrived;
        std::deque<std::uint8_t> bytes;
    };

    class End final : public PanelPort {
    public:
        End(Direction& in, Direction& out) : in_(in), out_(out) {}
        bool BytesWaiting(std::size_t& count) override;
        bool ReadByte(std::uint8_t& byte) override;
        bool Write(const std::uint8_t* data, std::size_t length) override;
        void WaitForInput(int timeoutMs) override;

    private:
        Direction& in_;
        Direction& out_;
    };

    Direction toDevice_;
    Direction toPanel_;
    End panelEnd_{toPanel_, toDevice_};
    End deviceEnd_{toDevice_, toPanel_};
};

} // namespace quillon
