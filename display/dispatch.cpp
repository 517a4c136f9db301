#include <algorithm>
#include <array>

#include "display/display_controller.h"
#include "display/frame_bytes.h"
#include "protocol/protocol.h"

namespace quillon {

namespace {

constexpr std::uint8_t kHighestContrast = 63;

} // namespace

void DisplayController::BeginOperation()
{
    errors_ = 0;
    changed_ = {};
}

std::uint8_t DisplayController::ValidateFrame(std::span<const std::uint8_t> frame)
{
    const std::uint8_t length = ByteOf(frame, 1);
    const std::uint8_t checksum = ByteOf(frame, 2u + length);

    std::uint8_t errors = 0;
    // The code byte counts as received, last-frame bit included.
    unsigned sum = 1;
    for (std::size_t i = 0; i < std::size_t{length} + 2; ++i) {
        sum += ByteOf(frame, i);
    }
    if (checksum != static_cast<std::uint8_t>(sum)) {
        errors |= kStatusChecksumError;
    }
    if (!LengthAllowed(ByteOf(frame, 0) & kFunctionCodeMask, length)) {
        errors |= kStatusFrameError;
    }
    return errors;
}

CommandResult DisplayController::ExecuteFrame(std::span<const std::uint8_t> frame, std::uint32_t frameNumber)
{
    BeginOperation();
    memory_.SetWriter(frameNumber);
    CommandResult result;
    // The data bytes as the length byte announces them; any that did not
    // arrive read as zeros.
    std::array<std::uint8_t, 255> padded{};
    const std::uint8_t length = ByteOf(frame, 1);
    const std::span<const std::uint8_t> arrived = BytesFrom(frame, 2);
    std::copy_n(arrived.begin(), std::min<std::size_t>(length, arrived.size()), padded.begin());
    const std::span<const std::uint8_t> data(padded.data(), length);

    switch (ByteOf(frame, 0) & kFunctionCodeMask) {
    case kWriteString:
        WriteString(data);
        break;
    case kWriteArray:
        WriteArray(data);
        break;
    case kSetupDisplay:
        if ((ByteOf(data, 0) & 0x80) != 0) {
            DrawStartupScreen();
        }
        break;
    case kBlankArea:
        ClearPages(ByteOf(data, 0));
        break;
    case kSetContrast:
        // The emulated display has no contrast; the value is only kept.
        contrast_ = std::min(ByteOf(data, 0), kHighestContrast);
        break;
    case kDrawSliderBar:
        DrawSliderBar(data);
        break;
    case kWriteFrameHeader:
        WriteFrameHeader(data);
        break;
    case kDrawAndRepeat:
        DrawAndRepeat(data);
        break;
    case kDrawIcon:
        DrawIcon(data);
        break;
    case kSetContrastAndReplyMode:
        contrast_ = std::min(ByteOf(data, 0), kHighestContrast);
        result.replyMode = static_cast<std::uint16_t>(ByteOf(data, 1) | (ByteOf(data, 2) << 8));
        break;
    default:
        // READ SWITCHES is answered by the reply alone; the rejected codes
        // never get here after validation.
        break;
    }
    memory_.SetWriter(0);
    result.errors = errors_;
    result.changed = changed_;
    return result;
}

} // namespace quillon
