// Signals become readable bytes on a pipe, so the loop's poll() sees them
// with everything else and nothing runs inside a handler but a write.
#ifndef BRISVANE_CONSOLE_SIGNALS_H
#define BRISVANE_CONSOLE_SIGNALS_H

// Catches SIGWINCH, SIGCONT, SIGTERM, SIGHUP, SIGINT and SIGQUIT; ignores
// SIGPIPE.
// Returns the pipe's read end (non-blocking), or -1.
int InstallSignalPipe();

// The next caught signal's number, or 0 when none is waiting.
int NextSignal(int pipeReadEnd);

#endif
