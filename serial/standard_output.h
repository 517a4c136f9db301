#pragma once

namespace quillon {

// This program's own standard output and standard error, when what they
// lead to goes away: a pipe whose reader has ended, a terminal that has
// hung up.

// A write to a pipe whose reader has ended fails instead of ending the
// program at once (SIGPIPE is ignored on POSIX), so the program ends the way
// it chooses, with what it started. Windows has no such signal: there such a
// write fails already.
void IgnoreBrokenPipe();

// Whether standard output or standard error has gone away. Only a failed
// write tells on Windows, so there it is always false.
bool StandardOutputClosed();

// The program's texts are UTF-8, the panel's characters (°, ↑, Ω) too. On
// Windows a console shows them as themselves only in its UTF-8 code page, so
// that is the console's output code page until the program ends; a file or
// a pipe gets the same bytes either way. Elsewhere this does nothing.
void ShowUtf8OnConsole();

// Whether what the program writes to standard error can reach anyone: true
// on POSIX, and on Windows when standard error is redirected or the program
// has a console. A Windows desktop program started from a console is not
// given it, so it takes that console for standard error here; started from
// Explorer or a shortcut it has none to take, and false says its messages
// must be shown another way.
bool ReachStandardError();

} // namespace quillon
