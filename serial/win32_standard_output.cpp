#include "serial/standard_output.h"

#include <cstdlib>

#include <windows.h>

namespace quillon {

void IgnoreBrokenPipe()
{
}

bool StandardOutputClosed()
{
    return false;
}

namespace {

// The console's output code page before the program changed it.
UINT codePageBefore = 0;

} // namespace

void ShowUtf8OnConsole()
{
    // 0 when the program has no console.
    codePageBefore = GetConsoleOutputCP();
    if (codePageBefore == 0 || codePageBefore == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) {
        return;
    }
    std::atexit([] { SetConsoleOutputCP(codePageBefore); });
}

} // namespace quillon
