// Batch mode (--batch, or when standard input or output is not a
// terminal): no screen at all. Standard input goes to the line with the
// terminal's byte rules (or --seven-bit), as typed keys do; what arrives
// goes to standard output as the screen gets it (received maps applied,
// hidden sequences taken out) with bit 7 cleared, or as it came with --raw.
// Notices go to standard error. The run ends at the end of standard input
// once what it gave is written and --linger has passed, or, with a script,
// when the script ends; what waits for standard output is written first.
// --timeout (any mode) leaves with 124.
//
// Standard output is a sink of the receive chain with a backlog of
// BatchBacklog bytes, written when the loop finds it writable. While the
// backlog is full the line is not read (the device's buffer, flow control
// or TCP hold the rest): signals, the timeout, keepalive, share clients and
// scripts go on meanwhile.
#ifndef BRISVANE_CONSOLE_BATCH_H
#define BRISVANE_CONSOLE_BATCH_H

#include <cstdint>

#include "console/features/batch_output.h"
#include "console/rules/reaction.h"

struct Session;

// Starts the clock for --timeout, and batch mode when `on`: standard output
// joins the receive chain, unless the output is the `timeline` of several
// lines. False when there is no memory for its backlog.
bool StartBatch(Session& console, bool on, bool timeline, int64_t now);

// The descriptor to wait on for input, or -1 when there is no room for more
// on the way to the line, or it ended.
int BatchInputDescriptor(const Session& console);

// Standard input is readable (or ended): queues one read for the line.
void ReadBatchInput(Session& console, int64_t now);

// The descriptor to wait on for standard output (-1: nothing waits for it).
int BatchOutputDescriptor(const Session& console);

// Standard output is writable (or gone): writes what it takes; Quit when
// nobody reads it any more.
Reaction WriteBatchOutput(Session& console);

// The linger is over; notices are passed to standard error.
Reaction BatchDue(Session& console, int64_t now);
int64_t BatchDeadline(const Session& console);

// --timeout, in any mode: when, and leaving with TimedOutExitCode then.
int64_t RunTimeoutDue(const Session& console);
Reaction RunTimedOut(Session& console, int64_t now);

#endif
