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
// A device named by identity (a by-id name, usb:VID:PID[:SERIAL], a
// topology id) is looked up at every open, so a replug into another node
// is followed; several matches are refused with their list.
//
// --auto-connect names no device: the line is made for the device chosen
// (new: one that appeared after the start; latest: the newest present),
// and when it goes away the next is waited for. The watch on /dev wakes
// the loop; a change is let settle briefly (udev makes the by-id links
// after the node) before the devices are scanned again.
//
// A network line is made in the loop from the start: the first open that
// fails (refused, no answer in ConnectTimeoutMilliseconds) ends the program
// with the reason in startFailure, unless --wait makes Missing a wait.
#ifndef BRISVANE_CONSOLE_CONNECTION_H
#define BRISVANE_CONSOLE_CONNECTION_H

#include <cstdint>
#include <memory>

#include "console/program/session.h"
#include "console/rules/reaction.h"

const int64_t RetryMilliseconds = 500;
const int64_t LongestRetryMilliseconds = 4000;
const int64_t ConnectTimeoutMilliseconds = 5000;
const char LockFolder[] = "/run/lock";
const int64_t SettleMilliseconds = 200;

// The line for `device`, not yet open; null with a problem for a form that
// cannot be used.
std::unique_ptr<Line> MakeLine(const char* device, char* problem, unsigned capacity);

// Opens a local line at start-up. Returns Open, Missing (with --wait or
// --auto-connect: the loop keeps trying) or Failed, with a one-line message. A network line
// returns InProgress at once: the loop's first pass starts it.
OpenResult OpenAtStart(Session& console, char* message, unsigned capacity);

// The loop's calls: the line went away; a retry is due; a connection in
// progress is ready or overdue.
Reaction LineLost(Session& console, int64_t now);  // Quit with reconnecting off
// A first connection that fails without --wait is a Quit (exit 1, the
// reason in startFailure).
Reaction RetryIfDue(Session& console, int64_t now);
Reaction ContinueConnecting(Session& console, short revents, int64_t now);

// The device watch's descriptor for the loop's poll (-1 without
// --auto-connect), and what to do when it is ready.
int DeviceWatchDescriptor(const Session& console);
Reaction DevicesChanged(Session& console, int64_t now);

// When the loop must next act for the line (a retry, a connect timeout).
int64_t ConnectionDeadline(const Session& console);

#endif
