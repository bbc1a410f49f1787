// When the loop must wake: the earliest of its deadlines (the frame flush,
// the reconnect retry, the next paced byte, a notice that expires, a BREAK
// or DTR pulse to end). Pure: the time is given (console/line/clock.h).
#ifndef BRISVANE_CONSOLE_SCHEDULE_H
#define BRISVANE_CONSOLE_SCHEDULE_H

#include <cstdint>

const int64_t NoDeadline = INT64_MAX;

// The poll() timeout at `now` for the earliest of `deadlines` (monotonic
// ms; NoDeadline for none): 0 when one is due or overdue by any amount, -1
// when there is none, and never more than poll() can take.
int PollTimeout(int64_t now, const int64_t* deadlines, unsigned count);

#endif
