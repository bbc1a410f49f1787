// The program's lines: which one the core works on (Enter), which one is
// shown (the menu key then 1..9 or Tab), the status line's part naming them,
// and the timeline of every line's text in the order it came.
#ifndef BRISVANE_CONSOLE_LINES_H
#define BRISVANE_CONSOLE_LINES_H

#include <cstdint>

#include "console/program/console.h"
#include "console/screen/display.h"

// Shows line `number` (0-based; NextLine: the one after the line shown).
// A number past the last line is said, not shown.
void ShowLineNumbered(Console& c, unsigned number);

// " [1 dut] 2 bmc* 3 power!" with several lines: the line shown in
// brackets, the others flagged since they were last shown: * new output,
// # a mark hit, ! down. Empty with one line.
void LinesStatus(const Console& c, char* text, unsigned capacity);

// The timeline view: opening it, its rows and status line, its keys (while
// it is open every key is its own).
void OpenTimeline(Console& c);
void TimelineFrame(Console& c, Frame* frame);
void TimelineStatus(const Console& c, char* text, unsigned capacity);
Reaction TimelineKey(Console& c, int code, bool isKeyCode);

#endif
