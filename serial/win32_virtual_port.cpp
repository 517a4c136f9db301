// Windows has no pseudo-terminals: a virtual port cannot be made there, and
// says what to use instead.
#include "serial/virtual_port.h"

namespace quillon {

VirtualPort::~VirtualPort() = default;

bool VirtualPort::Create(const std::string&)
{
    error_ = "virtual ports are pseudo-terminals, which Windows does not have; use TCP (--tcp-listen PORT, "
             "--tcp-connect HOST:PORT) or a virtual null-modem pair of COM ports instead";
    return false;
}

} // namespace quillon
