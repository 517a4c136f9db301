#include "serial/child_process.h"

namespace quillon {

std::string SubstitutePort(std::string_view command, std::string_view port)
{
    constexpr std::string_view kPlaceholder = "{port}";
    std::string result;
    for (std::size_t at = 0;;) {
        const std::size_t found = command.find(kPlaceholder, at);
        result.append(command.substr(at, found - at));
        if (found == std::string_view::npos) {
            return result;
        }
        result.append(port);
        at = found + kPlaceholder.size();
    }
}

} // namespace quillon
