// Line speeds beyond the termios table (250000, 74880, 31250...): on Linux
// through termios2 with BOTHER; elsewhere there is no portable way, and the
// speed is refused with a message saying so.
#ifndef BRISVANE_CONSOLE_LINE_SPEED_H
#define BRISVANE_CONSOLE_LINE_SPEED_H

#include <cstdint>

// True where SetCustomSpeed can work.
bool CustomSpeedsSupported();
// Sets both directions of the open line to `baud`. Returns 0 or an errno.
int SetCustomSpeed(int fd, uint32_t baud);
// The line's output speed in baud as the driver has it; 0 when unknown.
uint32_t ReadLineSpeed(int fd);

// The standard speed after (direction > 0) or before `baud`, wrapping round:
// what Tab, Up and Down step through in the settings prompt.
uint32_t StepStandardSpeed(uint32_t baud, int direction);

#endif
