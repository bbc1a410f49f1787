// Making the line, losing it, and making it again.
//
// The line's kind comes from the device's form, once: a path is a local
// device; the network forms are network lines. A line that goes away is
// closed, what waited to be written is dropped (and said), a running send
// ends, and the line is opened again with the settings, flow control and
// modem outputs in force, every half second for a device (backing off to a
// few seconds for a network line, and back to the start only after it
// stayed open that long), unless reconnecting is off.
//
// A network line is made in the loop from the start: the first open that
// fails (refused, no answer in ConnectTimeoutMilliseconds) ends the program
// with the reason in startFailure, unless --wait makes Missing a wait.
#ifndef BRISVANE_CONSOLE_CONNECTION_H
#define BRISVANE_CONSOLE_CONNECTION_H

#include <cstdint>
#include <memory>

#include "console/program/console.h"
#include "console/rules/reaction.h"

const int64_t RetryMilliseconds = 500;
const int64_t LongestRetryMilliseconds = 4000;
const int64_t ConnectTimeoutMilliseconds = 5000;
const char LockFolder[] = "/run/lock";

// The line for `device`, not yet open; null with a problem for a form that
// cannot be used.
std::unique_ptr<Line> MakeLine(const char* device, char* problem, unsigned capacity);

// Opens a local line at start-up. Returns Open, Missing (with --wait: the
// loop keeps trying) or Failed, with a one-line message. A network line
// returns InProgress at once: the loop's first pass starts it.
OpenResult OpenAtStart(Console& console, char* message, unsigned capacity);

// The loop's calls: the line went away; a retry is due; a connection in
// progress is ready or overdue.
Reaction LineLost(Console& console, int64_t now);  // Quit with reconnecting off
// A first connection that fails without --wait is a Quit (exit 1, the
// reason in startFailure).
Reaction RetryIfDue(Console& console, int64_t now);
Reaction ContinueConnecting(Console& console, short revents, int64_t now);

// When the loop must next act for the line (a retry, a connect timeout).
int64_t ConnectionDeadline(const Console& console);

#endif
