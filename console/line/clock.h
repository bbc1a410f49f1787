// The clock the loop's deadlines are kept on.
#ifndef BRISVANE_CONSOLE_CLOCK_H
#define BRISVANE_CONSOLE_CLOCK_H

#include <cstdint>

// Milliseconds on a clock that never jumps.
int64_t MonotonicMilliseconds();
// The same clock in microseconds (recordings' times).
int64_t MonotonicMicroseconds();

#endif
