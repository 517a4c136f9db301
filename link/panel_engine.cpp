#include "link/panel_engine.h"

#include <algorithm>
#include <array>

namespace quillon {

PanelEngine::PanelEngine(PanelPort& port, Clock& clock)
    : clock_(clock), receiver_(port, clock, events_), supervisor_(receiver_, display_, keys_, port, clock, events_)
{
    receiver_.SetBlockCompleteCallback([this] { OnBlockComplete(); });
}

PanelEngine::~PanelEngine()
{
    Stop();
}

void PanelEngine::Tick()
{
    wakePending_.store(false);
    supervisor_.Tick();
}

void PanelEngine::AnswerCompleteBlock()
{
    wakePending_.store(false);
    supervisor_.AnswerCompleteBlock();
}

void PanelEngine::OnBlockComplete()
{
    if (replyOnTick_.load() || !wake_ || wakePending_.exchange(true)) {
        return;
    }
    wake_();
}

void PanelEngine::TellFromReader(LinkEvent event)
{
    if (events_.wanted()) {
        event.block = receiver_.BlockOfNextByte();
        events_.PushFromReader(event);
    }
}

void PanelEngine::TellFromWriter(LinkEvent event)
{
    event.block = supervisor_.repliesSent() + 1;
    events_.EmitAfterNext(event);
}

void PanelEngine::TellPortChange(PortChange change, int detail)
{
    if (!events_.observed()) {
        return;
    }
    LinkEvent event;
    event.kind = LinkEventKind::PortChanged;
    event.timeMs = clock_.NowMs();
    event.timeUs = clock_.NowMicros();
    event.block = supervisor_.repliesSent() + 1;
    event.port = change;
    event.value = static_cast<std::uint32_t>(detail);
    events_.Emit(event);
}

std::optional<std::uint8_t> PanelEngine::InjectFrame(std::uint8_t functionCode, std::span<const std::uint8_t> data)
{
    // The frame must fit the receive buffer with its code, length and
    // checksum bytes.
    const auto frame = EncodeFrame(functionCode, data.first(std::min<std::size_t>(data.size(), kMaxFrameDataLength)));
    if (!receiver_.Inject(frame)) {
        return std::nullopt;
    }
    return frame.back();
}

} // namespace quillon
