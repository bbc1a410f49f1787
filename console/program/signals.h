// Signals become readable bytes on a pipe, so the loop's poll() sees them
// with everything else and nothing runs inside a handler but a write.
#ifndef BRISVANE_CONSOLE_SIGNALS_H
#define BRISVANE_CONSOLE_SIGNALS_H

// Catches SIGWINCH, SIGCONT, SIGTERM, SIGHUP, SIGINT, SIGQUIT and SIGCHLD
// (a child ended: the loop reaps it then); ignores SIGPIPE.
// Returns the pipe's read end (non-blocking), or -1.
int InstallSignalPipe();

// Puts SIGCHLD back to its default, as the first thing at start-up: a
// parent that ignored it would leave it ignored across exec, and then no
// child's exit status could be read.
void ResetChildSignal();

// The next caught signal's number, or 0 when none is waiting.
int NextSignal(int pipeReadEnd);

#endif
