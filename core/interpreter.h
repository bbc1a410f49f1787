// Byte interpreter: turns the seven-bit stream from the host into changes of
// the screen model.
//
// Printable bytes are stored at the cursor; backspace, tab, line feed and
// carriage return move it; ESC starts one of twelve sequences (cursor moves,
// home, reverse line feed, the two erases, graphics on/off, direct cursor
// addressing and the identify request, whose reply goes to the output queue).
// Every byte has a defined effect, nothing is reported (but the rows a block
// scrolls off, to its caller), and no byte can move the cursor off the screen.
#ifndef BRISVANE_CORE_INTERPRETER_H
#define BRISVANE_CORE_INTERPRETER_H

#include <cstdint>

#include "core/screen.h"

// Interprets one received byte. Bit 7 is ignored (the caller clears it).
void InterpretByte(uint8_t byte);

// Called with the top row (80 cells) just before a line feed scrolls it off.
typedef void (*ScrolledOff)(const Cell* row, void* user);

// Interprets bytes (bit 7 ignored) as InterpretByte would, one by one, handing each
// row that scrolls off to `keep` (may be null) first. Faster for a flood:
// a run of text hides the cursor and draws its row once, and lines
// scrolling with nothing between them that leaves the bottom row (text,
// line ends, and the escapes that stay there: a cursor address on it,
// erase to end of line, left, right, graphics) move the screen once (one
// RepaintAll for them all). Returns how many bytes it took: all
// `count`, or fewer when it stopped after a byte that left something in the
// output queue.
unsigned InterpretBytes(const uint8_t* bytes, unsigned count, ScrolledOff keep, void* user);

#endif
