#include <algorithm>

#include "link/frame.h"
#include "link/panel_link.h"

namespace quillon {

std::uint8_t CPanelLink::InjectFrame(std::uint8_t functionCode, const std::uint8_t* data, std::uint8_t length)
{
    // The frame must fit the receive buffer with its code, length and
    // checksum bytes.
    length = std::min(length, kMaxFrameDataLength);
    std::uint8_t frame[kRxBufferSize];
    frame[0] = static_cast<std::uint8_t>(functionCode | kLastFrameBit);
    frame[1] = length;
    std::copy(data, data + length, frame + 2);
    frame[2 + length] = FrameChecksum(frame, 2u + length);

    const std::size_t frameSize = 3u + length;
    for (std::size_t i = 0; i < frameSize; ++i) {
        state_.rxBuffer.Set(i, frame[i]);
    }
    DisplayWork& work = state_.work;
    work.rxIndex.store(static_cast<std::uint8_t>(frameSize));
    work.rxFrameStart.store(static_cast<std::uint8_t>(frameSize));
    work.frameCursor = 0;
    work.framesReceived.store(1, std::memory_order_release);
    work.framesProcessed = 0;
    return frame[2 + length];
}

} // namespace quillon
