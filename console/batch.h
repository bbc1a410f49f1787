// Batch mode (--batch, or when standard input or output is not a
// terminal): no screen at all. Standard input goes to the line with the
// terminal's byte rules (or --seven-bit), as typed keys do; what arrives
// goes to standard output with bit 7 cleared, or as it came with --raw.
// Notices go to standard error. The run ends at the end of standard input
// once what it gave is written and --linger has passed, or, with a script,
// when the script ends. --timeout (any mode) leaves with 124.
//
// Standard output is written as it comes: a reader that stops reading
// holds the line's reading too, until the timeout ends the run.
#ifndef BRISVANE_CONSOLE_BATCH_H
#define BRISVANE_CONSOLE_BATCH_H

#include <cstdint>

#include "console/ansi_filter.h"
#include "console/reaction.h"
#include "console/schedule.h"

struct Console;

const int TimedOutExitCode = 124;

struct Batch {
    bool on = false;
    bool inputEnded = false;
    int64_t endsAt = NoDeadline;     // the linger after the end of input
    int64_t timeoutAt = NoDeadline;  // --timeout
    bool timedOut = false;           // said on stderr once the screen is given back
    AnsiFilter ansi;                 // standard output's own, beside the screen's
};

// Starts the clock for --timeout, and batch mode when `on`.
void StartBatch(Console& console, bool on, int64_t now);

// The descriptor to wait on for input, or -1 when there is no room for more
// on the way to the line, or it ended.
int BatchInputDescriptor(const Console& console);

// Standard input is readable (or ended): queues one read for the line.
void ReadBatchInput(Console& console, int64_t now);

// Bytes received, for standard output; Quit when nobody reads it any more
// or the timeout passed while it was full.
Reaction WriteBatchOutput(Console& console, const uint8_t* bytes, unsigned count);

// The linger or the timeout is over, standard output is gone; notices
// are passed to standard error.
Reaction BatchDue(Console& console, int64_t now);

int64_t BatchDeadline(const Console& console);

#endif
