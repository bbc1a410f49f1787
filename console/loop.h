// The Unix program's main loop. It waits only in poll(): on the user's
// terminal (standard input in batch mode), the signal pipe and the line,
// with a timeout from the earliest deadline (the next frame, a reconnect,
// the next paced byte, a BREAK or DTR pulse to end, the check of held
// output, a script's wait, the batch linger or the timeout). In batch mode
// nothing is drawn. Nothing in it sleeps or
// blocks, so keys, signals and host bytes are always seen. Reactions are
// carried out here alone, and so is leaving.
//
// Received bytes are read in blocks; the screen is drawn at most once per
// frame while a flood lasts, and at once for a lone change.
#ifndef BRISVANE_CONSOLE_LOOP_H
#define BRISVANE_CONSOLE_LOOP_H

#include "console/console.h"

// Runs until the user exits, a terminating signal arrives, or the line is
// lost with reconnecting off; console.exitCode says which.
void RunLoop(Console& console, int signalPipe);

#endif
