// The Unix program's main loop. It waits only in poll(): on the user's
// terminal (standard input in batch mode), the signal pipe, the line,
// standard output while batch output waits for it, a transfer's command and
// share clients, with a timeout from the earliest deadline. Timed work (a
// BREAK or DTR pulse to end, a notice to clear, the check of held output, a
// reconnect, a script's wait, the batch linger, --timeout) is one table of
// "when is it due" and "act now" pairs, asked once for the wait and once to
// act; the frame, the next paced byte and more to read join them. In batch
// mode nothing is drawn. Nothing in it sleeps or blocks, so keys, signals
// and host bytes are always seen. Reactions are carried out here alone, and
// so is leaving.
//
// Received bytes are read in blocks; the screen is drawn at most once per
// frame while a flood lasts, and at once for a lone change.
#ifndef BRISVANE_CONSOLE_LOOP_H
#define BRISVANE_CONSOLE_LOOP_H

#include "console/program/console.h"

// Runs until the user exits, a terminating signal arrives, or a line is
// lost with reconnecting off; console.exitCode says which. Each pass works
// on every line in turn, its records made the core's (Enter).
void RunLoop(Console& console, int signalPipe);

#endif
