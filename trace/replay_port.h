#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/engine_interfaces.h"
#include "trace/recording.h"

namespace quillon {

// A port that plays a recording into the panel as if the device were
// sending it, at the recorded times scaled by speed (2 plays twice as fast).
// Replies go nowhere: the panel computes them, observers see them.
class ReplayPort final : public PanelPort {
public:
    ReplayPort(std::vector<RecordedChunk> chunks, Clock& clock, double speed = 1.0);

    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;

    // Every recorded byte has been read.
    bool finished() const { return next_.load() == bytes_.size(); }
    std::size_t size() const { return bytes_.size(); }

private:
    // Microseconds since the first look at the port, scaled to recording time.
    std::uint64_t Elapsed();

    struct TimedByte {
        std::uint64_t timeUs;
        std::uint8_t byte;
    };
    std::vector<TimedByte> bytes_;
    Clock& clock_;
    double speed_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> started_{false};
    std::uint64_t startUs_ = 0;
};

} // namespace quillon
