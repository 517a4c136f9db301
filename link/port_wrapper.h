#pragma once

#include <cstddef>
#include <cstdint>

#include "link/engine_interfaces.h"

namespace quillon {

// A port that changes the line beneath it in some way and passes on, as they
// are, the calls it does not change: a wrapper that forgot one would, say,
// keep a played recording from ever saying that the line has ended.
class PortWrapper : public PanelPort {
public:
    explicit PortWrapper(PanelPort& inner) : inner_(inner) {}

    bool BytesWaiting(std::size_t& count) override { return inner_.BytesWaiting(count); }
    bool ReadByte(std::uint8_t& byte) override { return inner_.ReadByte(byte); }
    bool Write(const std::uint8_t* data, std::size_t length) override { return inner_.Write(data, length); }
    void WaitForInput(int timeoutMs) override { inner_.WaitForInput(timeoutMs); }
    std::uint32_t ReplyHoldMs() override { return inner_.ReplyHoldMs(); }
    bool LineEnded() const override { return inner_.LineEnded(); }

protected:
    PanelPort& inner_;
};

} // namespace quillon
