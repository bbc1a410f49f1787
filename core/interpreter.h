// Byte interpreter: turns the seven-bit stream from the host into changes of
// the screen model.
//
// Printable bytes are stored at the cursor; backspace, tab, line feed and
// carriage return move it; ESC starts one of twelve sequences (cursor moves,
// home, reverse line feed, the two erases, graphics on/off, direct cursor
// addressing and the identify request, whose reply goes to the output queue).
// Every byte has a defined effect, nothing is reported, and no byte can move
// the cursor off the screen.
#ifndef BRISVANE_CORE_INTERPRETER_H
#define BRISVANE_CORE_INTERPRETER_H

#include <cstdint>

// Interprets one received byte. Bit 7 is ignored (the caller clears it).
void InterpretByte(uint8_t byte);

// Interprets bytes as InterpretByte would, one after another, except that a
// run of printable text hides the cursor once and draws its row once. Returns
// how many it took: all `count`, or fewer when it stopped before a line feed
// that would scroll (so the caller can keep the top row first; InterpretByte
// takes that line feed) or after a byte that left something in the output
// queue.
unsigned InterpretBytes(const uint8_t* bytes, unsigned count);

#endif
