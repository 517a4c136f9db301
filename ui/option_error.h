#pragma once

#include <QString>

namespace quillon {

// Tells the user of a bad command-line option (error, in words) and returns
// the exit status for it, 2. It is printed to standard error wherever that
// is seen: a terminal, a console, a file. A Windows desktop program started
// from Explorer or a shortcut has nowhere to print, so it shows the message
// in a message box instead and returns once the box is closed.
int TellBadOption(int argc, char** argv, const QString& error);

} // namespace quillon
