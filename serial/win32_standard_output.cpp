#include "serial/standard_output.h"

#include <cstdio>
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

bool ReachStandardError()
{
    // A file, a pipe or a console this program may write to. A handle that
    // is not this program's to use has no type.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE && GetFileType(error) != FILE_TYPE_UNKNOWN) {
        return true;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return false;
    }
    return std::freopen("CONOUT$", "w", stderr) != nullptr;
}

} // namespace quillon
