#include "demo/reply_parser.h"

#include <algorithm>

#include "protocol/protocol.h"

namespace quillon::demo {

bool IsStatusByte(std::uint8_t byte)
{
    const std::uint8_t key = byte >> kStatusKeyShift;
    const bool oneKeyAtMost = key == 0 || key == kKeyRight || key == kKeyLeft || key == kKeyUp || key == kKeyDown;
    return oneKeyAtMost && (byte & kStatusErrorMask & ~(kStatusChecksumError | kStatusFrameError)) == 0;
}

void ReplyParser::Drop(std::size_t count)
{
    dropped_ += static_cast<std::uint32_t>(count);
    length_ = 0;
    expected_ = 0;
}

std::optional<PanelMessage> ReplyParser::Start(std::uint8_t byte)
{
    switch (byte) {
    case kReadSwitches:
        expected_ = ShortStatusFrame(0).size();
        break;
    case kSetContrastAndReplyMode:
        expected_ = LongStatusFrame(0).size();
        break;
    case kSynchRequestCode:
        expected_ = kSynchRequest.size();
        break;
    default:
        if (IsStatusByte(byte)) {
            return PanelMessage{PanelMessage::Kind::Reply, ReplyForm::SingleByte, byte};
        }
        Drop(1);
        return std::nullopt;
    }
    frame_[0] = byte;
    length_ = 1;
    return std::nullopt;
}

std::optional<PanelMessage> ReplyParser::Feed(std::uint8_t byte, std::uint32_t nowMs)
{
    const bool gap = nowMs - lastByteMs_ > kByteGapMs;
    lastByteMs_ = nowMs;
    if (length_ > 0 && gap) {
        Drop(length_);
    }
    if (length_ == 0) {
        return Start(byte);
    }

    if (length_ == 1) {
        // A length that does not belong to the code means the code byte was
        // no frame start: drop it and look at this byte afresh.
        if (byte != expected_ - kFrameOverhead) {
            Drop(1);
            return Start(byte);
        }
    }
    frame_[length_++] = byte;
    if (length_ < expected_) {
        return std::nullopt;
    }

    const std::size_t length = length_;
    length_ = 0;
    if (frame_[length - 1] != FrameChecksum(frame_.data(), length - 1)) {
        Drop(length);
        return std::nullopt;
    }
    if (frame_[0] == kSynchRequestCode) {
        if (!std::equal(kSynchRequest.begin(), kSynchRequest.end(), frame_.begin())) {
            Drop(length);
            return std::nullopt;
        }
        return PanelMessage{PanelMessage::Kind::SynchRequest, ReplyForm::SingleByte, 0};
    }
    const ReplyForm form = frame_[0] == kReadSwitches ? ReplyForm::ShortFrame : ReplyForm::LongFrame;
    return PanelMessage{PanelMessage::Kind::Reply, form, frame_[2]};
}

} // namespace quillon::demo
