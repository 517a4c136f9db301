#include "link/paced_port.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <thread>
#include <vector>

namespace quillon {

namespace {

std::string RateRule()
{
    return "give a whole number of baud from " + std::to_string(kSlowestLineRate) + " to " +
           std::to_string(kFastestLineRate) + ", or 0 to leave the line unpaced";
}

} // namespace

std::optional<std::uint32_t> ParseLineRate(std::string_view text, std::string& error)
{
    if (text.empty()) {
        error = "no line rate given: " + RateRule();
        return std::nullopt;
    }
    std::string quoted(1, '"');
    quoted.append(text).push_back('"');
    const bool negative = text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    std::uint64_t value = 0;
    const auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    const bool whole =
        !digits.empty() && end == digits.data() + digits.size() && failure != std::errc::invalid_argument;
    if (!whole) {
        error = "line rate " + quoted + " is not a whole number: " + RateRule();
        return std::nullopt;
    }
    if (negative) {
        error = "line rate " + quoted + " is negative: " + RateRule();
        return std::nullopt;
    }
    if (failure == std::errc::result_out_of_range || value > kFastestLineRate) {
        error = "line rate " + quoted + " is above the fastest, " + std::to_string(kFastestLineRate) +
                " baud: " + RateRule();
        return std::nullopt;
    }
    if (value != 0 && value < kSlowestLineRate) {
        error = "line rate " + quoted + " is below the slowest, " + std::to_string(kSlowestLineRate) +
                " baud: " + RateRule();
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint64_t LineSchedule::Next(std::uint64_t sentUs)
{
    // An idle line starts a new busy stretch at the moment the byte is sent.
    if (count_ == 0 || sentUs >= ArrivalOf(count_)) {
        startUs_ = sentUs;
        count_ = 0;
    }
    ++count_;
    return ArrivalOf(count_);
}

PacedPort::PacedPort(PanelPort& inner, Clock& clock, std::uint32_t baud)
    : PortWrapper(inner), clock_(clock), baud_(baud), receiveLine_(baud), sendLine_(baud),
      sender_(inner, clock, TimedSender::Writes::EachByte)
{
}

PacedPort::~PacedPort()
{
    Stop();
}

bool PacedPort::TakeFromInner(std::uint64_t nowUs)
{
    std::size_t waiting = 0;
    if (!inner_.BytesWaiting(waiting)) {
        return false;
    }
    // Bytes beyond the room stay in the wrapped port; taken later, they
    // still arrive after the ones before them.
    const std::size_t room = kMaxQueued - received_.size();
    for (std::size_t i = 0; i < std::min(waiting, room); ++i) {
        std::uint8_t byte = 0;
        if (!inner_.ReadByte(byte)) {
            break;
        }
        received_.push_back({receiveLine_.Next(nowUs), byte});
    }
    return true;
}

bool PacedPort::BytesWaiting(std::size_t& count)
{
    if (baud_ == 0) {
        return inner_.BytesWaiting(count);
    }
    const std::uint64_t now = clock_.NowMicros();
    const bool queried = TakeFromInner(now);
    const auto arrived = std::partition_point(received_.begin(), received_.end(),
                                              [now](const TimedByte& timed) { return timed.dueUs <= now; });
    count = static_cast<std::size_t>(arrived - received_.begin());
    // Bytes already on the cable still arrive when the far end has gone.
    return queried || !received_.empty();
}

bool PacedPort::ReadByte(std::uint8_t& byte)
{
    if (baud_ == 0) {
        return inner_.ReadByte(byte);
    }
    if (received_.empty() || received_.front().dueUs > clock_.NowMicros()) {
        return false;
    }
    byte = received_.front().byte;
    received_.pop_front();
    return true;
}

void PacedPort::WaitForInput(int timeoutMs)
{
    if (baud_ == 0 || received_.empty()) {
        inner_.WaitForInput(timeoutMs);
        return;
    }
    // A byte is on its way: wake as its last bit arrives. Bytes the wrapped
    // port gets meanwhile arrive after it, so they need no earlier wake.
    const std::uint64_t now = clock_.NowMicros();
    const std::uint64_t due = received_.front().dueUs;
    if (due > now) {
        const auto limit = std::chrono::microseconds(std::chrono::milliseconds(timeoutMs));
        std::this_thread::sleep_for(std::min(limit, std::chrono::microseconds(due - now)));
    }
}

bool PacedPort::Write(const std::uint8_t* data, std::size_t length)
{
    if (baud_ == 0) {
        return inner_.Write(data, length);
    }
    // Checked first, so a refused write leaves the line's schedule as it was.
    if (length > sender_.Room()) {
        return false;
    }
    const std::uint64_t now = clock_.NowMicros();
    std::vector<TimedByte> timed;
    timed.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        timed.push_back({sendLine_.Next(now), data[i]});
    }
    return sender_.Queue(timed);
}

void PacedPort::SendDue()
{
    sender_.SendDue();
}

void PacedPort::Start()
{
    if (baud_ != 0) {
        sender_.Start();
    }
}

void PacedPort::Stop()
{
    sender_.Stop();
}

} // namespace quillon
