#include <array>

#include "display/controller.h"
#include "link/frame.h"
#include "link/panel_link.h"

namespace quillon {

namespace {

// Data bytes each function code may carry. A code whose range is empty is
// never carried out: 0 does not exist, 7 is not supported by the panel and
// 12 and 13 are unassigned.
struct LengthRule {
    std::uint8_t min;
    std::uint8_t max;
};

constexpr LengthRule kRejected{1, 0};

constexpr std::array<LengthRule, kHighestFunctionCode + 1> kLengthRules{{
    kRejected,                // 0
    {3, 23},                  // WRITE STRING: column, attribute, 1..21 characters
    {3, kMaxFrameDataLength}, // WRITE ARRAY: column, page, column bytes
    {1, 1},                   // SETUP DISPLAY
    {1, 1},                   // BLANK AREA
    {1, 1},                   // READ SWITCHES
    {1, 1},                   // SET CONTRAST
    kRejected,                // WRITE PRE DEF STR
    {5, 8},                   // DRAW SLIDER BAR: number, page, 3 or 6 slider bytes
    {1, 21},                  // WRITE FRAME HEADER
    {4, kMaxFrameDataLength}, // DRAW AND REPEAT: column, page, count, pattern
    {3, 3},                   // DRAW ICON
    kRejected,                // 12
    kRejected,                // 13
    {3, 3},                   // SET CONTRAST AND REPLY MODE
}};

bool LengthAllowed(std::uint8_t functionCode, std::uint8_t length)
{
    if (functionCode >= kLengthRules.size()) {
        return false;
    }
    const LengthRule rule = kLengthRules[functionCode];
    return length >= rule.min && length <= rule.max;
}

} // namespace

std::uint8_t CPanelLink::ValidateFrame()
{
    DisplayWork& work = state_.work;
    const RxBuffer& rx = state_.rxBuffer;
    const std::size_t start = work.frameCursor;

    const std::uint8_t length = rx.At(start + 1);
    work.frameLength = length;
    work.frameChecksum = rx.At(start + 2 + length);

    // The code byte counts as received, last-frame bit included.
    unsigned sum = 1;
    for (std::size_t i = 0; i < std::size_t{length} + 2; ++i) {
        sum += rx.At(start + i);
    }
    if (work.frameChecksum != static_cast<std::uint8_t>(sum)) {
        state_.status |= kStatusChecksumError;
    }

    work.functionCode = rx.At(start) & 0x7F;
    if (!LengthAllowed(work.functionCode, length)) {
        state_.status |= kStatusFrameError;
    }

    // The nibble is not cleared between the frames of a block, so one bad
    // frame keeps the rest of its block from being carried out.
    const std::uint8_t errors = state_.status & kStatusErrorMask;
    if (errors == 0) {
        needSync = 0;
    }
    return errors;
}

void CPanelLink::ExecuteFrame()
{
    DisplayWork& work = state_.work;
    const auto dataOffset = [&work](std::uint8_t index) {
        return static_cast<std::uint8_t>(work.frameCursor + 2 + index);
    };

    // Each case copies the command's leading data bytes into the work fields
    // and points dataPtr at the bytes the command reads itself.
    switch (work.functionCode) {
    case kWriteString:
        state_.textAttribute = FrameData(state_, 1);
        state_.dataPtr = dataOffset(2);
        WriteString();
        break;
    case kWriteArray:
        work.runColumn = FrameData(state_, 0);
        work.runPage = FrameData(state_, 1);
        work.runLength = static_cast<std::uint8_t>(work.frameLength - 2);
        state_.dataPtr = dataOffset(2);
        WriteArray();
        break;
    case kSetupDisplay:
        state_.setupByte = FrameData(state_, 0);
        SetupDisplay();
        break;
    case kBlankArea:
        state_.pageRange = FrameData(state_, 0);
        BlankArea();
        break;
    case kSetContrast:
        work.contrast = FrameData(state_, 0);
        SetContrast();
        break;
    case kDrawSliderBar:
        state_.dataPtr = dataOffset(0);
        DrawSliderBar();
        break;
    case kWriteFrameHeader:
        state_.dataPtr = dataOffset(0);
        WriteFrameHeader();
        break;
    case kDrawAndRepeat:
        work.runColumn = FrameData(state_, 0);
        work.runPage = FrameData(state_, 1);
        work.repeatCount = FrameData(state_, 2);
        state_.dataPtr = dataOffset(3);
        DrawAndRepeat();
        break;
    case kDrawIcon:
        work.runColumn = FrameData(state_, 0);
        work.runPage = FrameData(state_, 1);
        state_.dataPtr = dataOffset(2);
        DrawIcon();
        break;
    case kSetContrastAndReplyMode:
        work.contrast = FrameData(state_, 0);
        state_.dataPtr = dataOffset(1);
        SetContrastAndReplyMode();
        break;
    default:
        // READ SWITCHES is answered by the reply alone; the rejected codes
        // never get here after validation.
        break;
    }
}

} // namespace quillon
