// The serial line of the Unix front end: the device opened for this program
// alone and set to the user's line settings with termios.
//
// OpenLine refuses a device that another program holds (an advisory lock
// plus the exclusive-use flag), a file that is not a terminal, and settings
// the driver does not take, each with a one-line message naming the device
// and what to do.
#ifndef BRISVANE_CONSOLE_LOCAL_LINE_H
#define BRISVANE_CONSOLE_LOCAL_LINE_H

#include <termios.h>

#include "link/settings_notation.h"

// Fills *attributes (raw, receiver on, modem lines ignored) for the
// settings. Returns false, with *problem set, for a speed or a stop-bit count
// this platform has no setting for.
bool LineAttributes(const LineSettings& settings, bool hardwareFlow, struct termios* attributes,
                    const char** problem);

enum class OpenFailure { None, Missing, Other };

// Opens and sets up `device` non-blocking. Returns the descriptor, or -1
// with a one-line message in `message` (and *failure says whether the device
// was simply not there, which a reconnect waits out).
int OpenLine(const char* device, const LineSettings& settings, bool hardwareFlow, char* message,
             unsigned capacity, OpenFailure* failure);

void CloseLine(int descriptor);

#endif
