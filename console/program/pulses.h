// Resets from the command line: --pulse DTR=MS / RTS=MS (repeatable) and
// the profile key "pulse = DTR=100,RTS=50". When the line first opens, each
// modem line named goes to the other state for MS, then back, in the order
// given. A reconnect does not pulse again: a board whose reset takes its
// USB port away would be reset for ever. A line that has no modem lines (a
// pty, a network line) starts anyway and says once that it cannot pulse.
// The pulses are timed by the loop's deadlines: nothing waits.
#ifndef BRISVANE_CONSOLE_PULSES_H
#define BRISVANE_CONSOLE_PULSES_H

#include <cstdint>

#include "console/rules/pulse_steps.h"
#include "console/rules/reaction.h"
#include "console/rules/schedule.h"

struct Session;

// The line opened: the first time, the pulses start, and the marks' clock.
void StartPulses(Session& console, int64_t now);
// Ends a pulse that is due and starts the next.
Reaction ServePulses(Session& console, int64_t now);
int64_t PulsesDeadline(const Session& console);

#endif
