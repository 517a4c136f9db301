#include "serial/standard_output.h"

namespace quillon {

void IgnoreBrokenPipe()
{
}

bool StandardOutputClosed()
{
    return false;
}

} // namespace quillon
