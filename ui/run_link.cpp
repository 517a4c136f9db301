#include "ui/run_link.h"

#include <utility>

#include "serial/serial_port.h"

namespace quillon {

RunLinkControl::RunLinkControl(Line& line, PortTarget target)
    : line_(line), target_(std::move(target)), serial_(line.serial(), nullptr)
{
}

int RunLinkControl::Open(const PortTarget& target)
{
    serial_.Close();
    if (target == target_) {
        line_.Use(line_.runLine());
        return 0;
    }
    line_.Use(&line_.serial());
    return serial_.Open(target);
}

void RunLinkControl::Close()
{
    line_.Use(nullptr);
    serial_.Close();
}

} // namespace quillon
