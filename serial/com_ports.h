#pragma once

#include <string>
#include <vector>

namespace quillon {

// The COM ports this machine has, by number, lowest first and each once: on
// Windows the ports named under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; none
// elsewhere, where ports are device files.
std::vector<int> FoundComPorts();

// Whether a port's failed open (its system error code) says that there is no
// such port. Only on Windows, where the answer can name the ports there are.
bool IsMissingPortError(int error);

// "There is no such port. COM ports found: COM1, COM7." or "There is no such
// port, and no COM port was found on this machine."
std::string MissingPortText(const std::vector<int>& ports);

} // namespace quillon
