#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "link/engine_interfaces.h"
#include "link/fault_rules.h"
#include "link/link_events.h"
#include "link/port_wrapper.h"
#include "link/timed_sender.h"

namespace quillon {

// A port that injects faults on purpose into what crosses the line, so a
// device's recovery can be tested: replies dropped, corrupted, delayed or
// cut short, the device's bytes lost or changed, the line dead for a while.
// The engine computes its replies as ever; only what crosses the line
// changes, and every fault is told to a sink as an event. With no rule given
// every call goes straight through.
//
// Rules are given and cleared on the ticking thread; the device's bytes are
// judged on the reader thread, the panel's writes on the ticking thread.
// Random faults come from a generator per rule seeded from one seed, so the
// same seed and the same exchange give the same faults. Times come from the
// engine's clock; delayed replies leave from a thread of their own.
class FaultPort final : public PortWrapper {
public:
    FaultPort(PanelPort& inner, Clock& clock);
    ~FaultPort() override;
    FaultPort(const FaultPort&) = delete;
    FaultPort& operator=(const FaultPort&) = delete;

    // Before the first rule: the seed of the random faults.
    void SetSeed(std::uint64_t seed) { seed_ = seed; }
    std::uint64_t seed() const { return seed_; }
    // A rule that draws at random (p=) has been given, so the seed is what
    // repeats the run's faults.
    bool drewAtRandom() const { return drewAtRandom_.load(); }
    // Where the faults are told; nothing is told without one.
    void SetSink(LineEventSink* sink) { sink_ = sink; }
    // A rule's counts and its time start now. Returns its number, for Remove.
    std::uint64_t Add(const FaultRule& rule);
    // Ends one rule; a number no longer in force is let be.
    void Remove(std::uint64_t number);
    // Ends every rule. Replies already held back still leave at their time.
    void Clear();
    // The rules in force, as FaultRuleText writes them.
    std::vector<std::string> Rules();

    // Reader thread.
    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    void WaitForInput(int timeoutMs) override;
    // Ticking thread.
    bool Write(const std::uint8_t* data, std::size_t length) override;
    // hold-reply: counts the block and says how long to hold it.
    std::uint32_t ReplyHoldMs() override;

    // The thread that sends delayed replies at their time; tests without it
    // call SendDue.
    void Start() { sender_.Start(); }
    void Stop() { sender_.Stop(); }
    void SendDue() { sender_.SendDue(); }

private:
    enum class UnplugPhase : std::uint8_t { Waiting, Dead, Over };

    struct ActiveRule {
        FaultRule rule;
        std::uint64_t number = 0;
        std::string text;
        std::uint64_t seen = 0;
        std::mt19937_64 random;
        // unplug: when the line dies and comes back.
        std::uint64_t deadFromUs = 0;
        std::uint64_t deadUntilUs = 0;
        UnplugPhase phase = UnplugPhase::Waiting;
        std::uint32_t lost = 0;
    };

    // Counts one event of the rule's kind: true when the fault strikes it.
    static bool Strikes(ActiveRule& active);
    bool DeadAt(std::uint64_t nowUs) const;
    // Reader thread, rules locked: tells the line dying and coming back.
    void FollowUnplugs(std::uint64_t nowUs);
    // Takes what the wrapped port has through the byte faults; false when it
    // cannot be queried.
    bool TakeFromInner();
    // Rules locked: which sides of the line the rules in force act on.
    void NoteSides();
    void Tell(bool fromReader, const ActiveRule& active, FaultEffect effect, std::span<const std::uint8_t> meant,
              std::uint32_t value = 0, std::uint8_t byte = 0);
    void Tell(bool fromReader, FaultKind kind, const std::string& rule, FaultEffect effect,
              std::span<const std::uint8_t> meant, std::uint32_t value, std::uint8_t byte);
    // Reader thread: tells each held reply that has left since it last
    // looked.
    void TellHeldRepliesSent();

    Clock& clock_;
    LineEventSink* sink_ = nullptr;
    std::uint64_t seed_ = 0;

    std::mutex rulesMutex_;
    std::vector<ActiveRule> rules_;
    std::uint64_t rulesGiven_ = 0;
    // Whether a rule acts on the device's bytes (byte faults, unplug) or on
    // the panel's writes, read without the lock on every call.
    std::atomic<bool> receiveFaults_{false};
    std::atomic<bool> sendFaults_{false};
    std::atomic<bool> drewAtRandom_{false};
    std::atomic<bool> holdFaults_{false};

    // A reply held back by delay-reply, until it has left: told then, since
    // only then has the device got it.
    struct HeldReply {
        // Its last byte's number among the bytes the sender queued.
        std::uint64_t lastByte = 0;
        std::uint64_t dueUs = 0;
        std::uint32_t heldMs = 0;
        std::string rule;
        std::vector<std::uint8_t> bytes;
    };
    std::mutex heldMutex_;
    std::deque<HeldReply> held_;
    std::atomic<bool> holding_{false};

    // Reader thread only: bytes taken through the faults, not yet read.
    std::deque<std::uint8_t> received_;
    TimedSender sender_;
};

} // namespace quillon
