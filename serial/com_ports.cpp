#include "serial/com_ports.h"

#include <cstddef>

namespace quillon {

std::string MissingPortText(const std::vector<int>& ports)
{
    if (ports.empty()) {
        return "There is no such port, and no COM port was found on this machine.";
    }
    std::string text = "There is no such port. COM ports found: ";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        text += (i == 0 ? "COM" : ", COM") + std::to_string(ports[i]);
    }
    return text + ".";
}

} // namespace quillon
