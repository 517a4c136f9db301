#include "link/fault_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quillon {

namespace {

// Spreads a seed and a rule's number over the generator's state, so rules
// given one after the other draw unrelated numbers.
std::uint64_t SplitMix(std::uint64_t value)
{
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

// A corrupted frame keeps its data and loses its checksum; a single-byte
// reply has none, so its status byte says a checksum error that never was.
constexpr std::uint8_t kCorruptChecksum = 0xFF;
constexpr std::uint8_t kCorruptStatus = 0x01;

} // namespace

FaultPort::FaultPort(PanelPort& inner, Clock& clock)
    : PortWrapper(inner), clock_(clock), sender_(inner, clock, TimedSender::Writes::Together)
{
}

FaultPort::~FaultPort()
{
    Stop();
}

std::uint64_t FaultPort::Add(const FaultRule& rule)
{
    const std::lock_guard lock(rulesMutex_);
    ActiveRule active;
    active.rule = rule;
    active.number = ++rulesGiven_;
    active.text = FaultRuleText(rule);
    active.random.seed(SplitMix(seed_ ^ SplitMix(active.number)));
    if (rule.kind == FaultKind::Unplug) {
        active.deadFromUs = clock_.NowMicros() + std::uint64_t{rule.afterMs} * 1000;
        active.deadUntilUs = active.deadFromUs + std::uint64_t{rule.ms} * 1000;
    }
    rules_.push_back(std::move(active));
    NoteSides();
    if (rule.trigger == FaultTrigger::Chance) {
        drewAtRandom_.store(true);
    }
    return rulesGiven_;
}

void FaultPort::Remove(std::uint64_t number)
{
    const std::lock_guard lock(rulesMutex_);
    std::erase_if(rules_, [number](const ActiveRule& active) { return active.number == number; });
    NoteSides();
}

void FaultPort::Clear()
{
    const std::lock_guard lock(rulesMutex_);
    rules_.clear();
    NoteSides();
}

void FaultPort::NoteSides()
{
    const auto any = [this](auto acts) { return std::any_of(rules_.begin(), rules_.end(), acts); };
    receiveFaults_.store(
        any([](const ActiveRule& active) { return active.rule.OnBytes() || active.rule.kind == FaultKind::Unplug; }));
    sendFaults_.store(
        any([](const ActiveRule& active) { return active.rule.OnReplies() || active.rule.kind == FaultKind::Unplug; }));
    holdFaults_.store(any([](const ActiveRule& active) { return active.rule.kind == FaultKind::HoldReply; }));
}

std::uint32_t FaultPort::ReplyHoldMs()
{
    if (!holdFaults_.load()) {
        return inner_.ReplyHoldMs();
    }
    const std::lock_guard lock(rulesMutex_);
    std::uint32_t hold = 0;
    for (ActiveRule& active : rules_) {
        if (active.rule.kind == FaultKind::HoldReply && Strikes(active)) {
            hold = std::max(hold, active.rule.ms);
            Tell(false, active, FaultEffect::BlockHeld, {}, active.rule.ms);
        }
    }
    return hold;
}

std::vector<std::string> FaultPort::Rules()
{
    const std::lock_guard lock(rulesMutex_);
    std::vector<std::string> texts;
    for (const ActiveRule& active : rules_) {
        texts.push_back(active.text);
    }
    return texts;
}

bool FaultPort::Strikes(ActiveRule& active)
{
    ++active.seen;
    switch (active.rule.trigger) {
    case FaultTrigger::Every:
        return active.seen % active.rule.count == 0;
    case FaultTrigger::At:
        return active.seen == active.rule.count;
    case FaultTrigger::Chance:
        // 53 random bits as a fraction in [0, 1): the same numbers from the
        // same seed with every standard library, unlike its distributions.
        return static_cast<double>(active.random() >> 11) * 0x1.0p-53 < active.rule.chance;
    case FaultTrigger::After:
        break;
    }
    return false;
}

bool FaultPort::DeadAt(std::uint64_t nowUs) const
{
    return std::any_of(rules_.begin(), rules_.end(), [nowUs](const ActiveRule& active) {
        return active.rule.kind == FaultKind::Unplug && nowUs >= active.deadFromUs && nowUs < active.deadUntilUs;
    });
}

void FaultPort::Tell(bool fromReader, const ActiveRule& active, FaultEffect effect, std::span<const std::uint8_t> meant,
                     std::uint32_t value, std::uint8_t byte)
{
    Tell(fromReader, active.rule.kind, active.text, effect, meant, value, byte);
}

void FaultPort::Tell(bool fromReader, FaultKind kind, const std::string& rule, FaultEffect effect,
                     std::span<const std::uint8_t> meant, std::uint32_t value, std::uint8_t byte)
{
    if (sink_ == nullptr) {
        return;
    }
    LinkEvent event;
    event.kind = LinkEventKind::FaultInjected;
    event.timeMs = clock_.NowMs();
    event.timeUs = clock_.NowMicros();
    event.fault = kind;
    event.effect = effect;
    std::memcpy(event.rule.data(), rule.data(), std::min(rule.size(), event.rule.size() - 1));
    event.SetBytes(meant);
    event.value = value;
    event.byte = byte;
    if (fromReader) {
        sink_->TellFromReader(event);
    } else {
        sink_->TellFromWriter(event);
    }
}

void FaultPort::FollowUnplugs(std::uint64_t nowUs)
{
    for (ActiveRule& active : rules_) {
        if (active.rule.kind != FaultKind::Unplug) {
            continue;
        }
        if (active.phase == UnplugPhase::Waiting && nowUs >= active.deadFromUs) {
            active.phase = UnplugPhase::Dead;
            Tell(true, active, FaultEffect::LineUnplugged, {}, active.rule.ms);
        }
        if (active.phase == UnplugPhase::Dead && nowUs >= active.deadUntilUs) {
            active.phase = UnplugPhase::Over;
            Tell(true, active, FaultEffect::LineBack, {}, active.lost);
        }
    }
}

bool FaultPort::TakeFromInner()
{
    const std::lock_guard lock(rulesMutex_);
    const std::uint64_t now = clock_.NowMicros();
    FollowUnplugs(now);
    std::size_t waiting = 0;
    if (!inner_.BytesWaiting(waiting)) {
        return false;
    }
    const bool dead = DeadAt(now);
    const std::size_t room = TimedSender::kMaxQueued - std::min(received_.size(), TimedSender::kMaxQueued);
    for (std::size_t i = 0; i < std::min(waiting, room); ++i) {
        std::uint8_t byte = 0;
        if (!inner_.ReadByte(byte)) {
            break;
        }
        if (dead) {
            for (ActiveRule& active : rules_) {
                active.lost += active.phase == UnplugPhase::Dead ? 1 : 0;
            }
            continue;
        }
        bool dropped = false;
        for (ActiveRule& active : rules_) {
            if (!active.rule.OnBytes() || !Strikes(active) || dropped) {
                continue;
            }
            const std::uint8_t meant[] = {byte};
            if (active.rule.kind == FaultKind::DropByte) {
                dropped = true;
                Tell(true, active, FaultEffect::ByteDropped, meant);
            } else {
                byte ^= static_cast<std::uint8_t>(1U << active.rule.bit);
                Tell(true, active, FaultEffect::BitFlipped, meant, active.rule.bit, byte);
            }
        }
        if (!dropped) {
            received_.push_back(byte);
        }
    }
    return true;
}

void FaultPort::TellHeldRepliesSent()
{
    const std::uint64_t handedOver = sender_.HandedOver();
    const std::lock_guard lock(heldMutex_);
    while (!held_.empty() && held_.front().lastByte <= handedOver) {
        const HeldReply& reply = held_.front();
        Tell(true, FaultKind::DelayReply, reply.rule, FaultEffect::HeldReplySent, reply.bytes, reply.heldMs, 0);
        held_.pop_front();
    }
    holding_.store(!held_.empty());
}

bool FaultPort::BytesWaiting(std::size_t& count)
{
    if (holding_.load()) {
        TellHeldRepliesSent();
    }
    if (!receiveFaults_.load() && received_.empty()) {
        return inner_.BytesWaiting(count);
    }
    const bool queried = TakeFromInner();
    count = received_.size();
    return queried || !received_.empty();
}

bool FaultPort::ReadByte(std::uint8_t& byte)
{
    if (received_.empty()) {
        return !receiveFaults_.load() && inner_.ReadByte(byte);
    }
    byte = received_.front();
    received_.pop_front();
    return true;
}

void FaultPort::WaitForInput(int timeoutMs)
{
    if (!received_.empty()) {
        return;
    }
    // The reader wakes when the line dies or comes back, to tell it then.
    std::uint64_t next = UINT64_MAX;
    {
        const std::lock_guard lock(rulesMutex_);
        for (const ActiveRule& active : rules_) {
            // Only an unplug has a time of its own; every other rule waits
            // with the line, where a TCP port accepts, retries and hears a
            // hang-up.
            if (active.rule.kind != FaultKind::Unplug) {
                continue;
            }
            if (active.phase == UnplugPhase::Waiting) {
                next = std::min(next, active.deadFromUs);
            } else if (active.phase == UnplugPhase::Dead) {
                next = std::min(next, active.deadUntilUs);
            }
        }
    }
    if (holding_.load()) {
        // Woken when the first held reply is due, to tell it has left.
        const std::lock_guard lock(heldMutex_);
        if (!held_.empty()) {
            next = std::min(next, held_.front().dueUs);
        }
    }
    const std::uint64_t now = clock_.NowMicros();
    if (next != UINT64_MAX && next <= now) {
        // Due but not yet handed over by the sender: a moment more.
        if (holding_.load()) {
            inner_.WaitForInput(1);
        }
        return;
    }
    if (next != UINT64_MAX && next - now < std::uint64_t(timeoutMs) * 1000) {
        timeoutMs = static_cast<int>((next - now + 999) / 1000);
    }
    inner_.WaitForInput(timeoutMs);
}

bool FaultPort::Write(const std::uint8_t* data, std::size_t length)
{
    const std::span<const std::uint8_t> meant(data, length);
    if (!sendFaults_.load()) {
        return sender_.Send(meant, clock_.NowMicros());
    }
    std::vector<std::uint8_t> bytes(meant.begin(), meant.end());
    std::uint64_t delayUs = 0;
    std::string delayRule;
    {
        const std::lock_guard lock(rulesMutex_);
        const std::uint64_t now = clock_.NowMicros();
        if (DeadAt(now)) {
            for (const ActiveRule& active : rules_) {
                if (active.rule.kind == FaultKind::Unplug && now >= active.deadFromUs && now < active.deadUntilUs) {
                    Tell(false, active, FaultEffect::ReplyLost, meant);
                    break;
                }
            }
            return true;
        }
        bool dropped = false;
        for (ActiveRule& active : rules_) {
            if (!active.rule.OnReplies() || !Strikes(active) || dropped) {
                continue;
            }
            switch (active.rule.kind) {
            case FaultKind::DropReply:
                dropped = true;
                Tell(false, active, FaultEffect::ReplyDropped, meant);
                break;
            case FaultKind::CorruptReply: {
                const std::size_t index = bytes.size() - 1;
                bytes[index] ^= bytes.size() == 1 ? kCorruptStatus : kCorruptChecksum;
                Tell(false, active, FaultEffect::ReplyCorrupted, meant, static_cast<std::uint32_t>(index),
                     bytes[index]);
                break;
            }
            case FaultKind::TruncateReply: {
                const std::size_t wanted = active.rule.keep != 0 ? active.rule.keep : bytes.size() / 2;
                bytes.resize(std::min(wanted, bytes.size() - 1));
                dropped = bytes.empty();
                Tell(false, active, FaultEffect::ReplyCut, meant, static_cast<std::uint32_t>(bytes.size()));
                break;
            }
            case FaultKind::DelayReply:
                delayUs += std::uint64_t{active.rule.ms} * 1000;
                delayRule = active.text;
                Tell(false, active, FaultEffect::ReplyDelayed, meant, active.rule.ms);
                break;
            default:
                break;
            }
        }
        if (dropped) {
            return true;
        }
    }
    const std::uint64_t dueUs = clock_.NowMicros() + delayUs;
    if (delayUs == 0) {
        return sender_.Send(bytes, dueUs);
    }
    const std::lock_guard lock(heldMutex_);
    if (!sender_.Send(bytes, dueUs)) {
        return false;
    }
    held_.push_back({sender_.Queued(), dueUs, static_cast<std::uint32_t>(delayUs / 1000), delayRule, bytes});
    holding_.store(true);
    return true;
}

} // namespace quillon
