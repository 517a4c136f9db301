#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/engine_interfaces.h"
#include "trace/recording.h"

namespace quillon {

// A port that plays a recording into the panel as if the device were
// sending it, at the recorded times scaled by speed (2 plays twice as fast).
// Where the recording marks that the device had an answer, the bytes after
// the mark also wait until the replayed panel has answered, for a second of
// recording time at most. Replies go nowhere: the panel computes them,
// observers see them.
class ReplayPort final : public PanelPort {
public:
    // How long bytes recorded after an answer wait for the panel's own.
    static constexpr std::uint64_t kAnswerWaitUs = 1000000;

    ReplayPort(std::vector<RecordedChunk> chunks, Clock& clock, double speed = 1.0);

    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;
    bool LineEnded() const override { return finished(); }

    // Every recorded byte has been read.
    bool finished() const { return next_.load() == bytes_.size(); }

private:
    // Microseconds since the first look at the port, scaled to recording time.
    std::uint64_t Elapsed();
    // Whether the byte at index may be read now (reader thread).
    bool Due(std::size_t index, std::uint64_t now) const;

    struct TimedByte {
        std::uint64_t timeUs;
        std::uint8_t byte;
        // The first byte after a marked answer.
        bool afterReply;
    };
    std::vector<TimedByte> bytes_;
    Clock& clock_;
    double speed_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> started_{false};
    std::uint64_t startUs_ = 0;
    // Writes of the panel, and their count when the reader last took a byte.
    std::mutex writeMutex_;
    std::condition_variable written_;
    std::atomic<std::uint64_t> writes_{0};
    std::uint64_t writesAtLastRead_ = 0;
};

} // namespace quillon
