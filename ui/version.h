#pragma once

#include <QString>

namespace quillon {

// The program's version comes from the project's CMakeLists.txt alone.
inline QString VersionNumber()
{
    return QStringLiteral(QUILLON_VERSION);
}

// The line the About box and --version show.
inline QString VersionLine()
{
    return QStringLiteral("Quillon Version " QUILLON_VERSION);
}

} // namespace quillon
