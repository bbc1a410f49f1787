// The program's lines: which one the core works on (Enter), which one is
// shown (the menu key then 1..9 or Tab), the status line's part naming them,
// and the timeline of every line's text in the order it came.
#ifndef BRISVANE_CONSOLE_LINES_H
#define BRISVANE_CONSOLE_LINES_H

#include <cstdint>

#include "console/program/console.h"
#include "console/features/timeline_file.h"
#include "console/screen/display.h"

// Shows line `number` (0-based; NextLine: the one after the line shown):
// the keys go to it. With two panes, a line in view keeps its pane; another
// takes the pane beside the line that had the keys, which stays in view.
// A number past the last line is said, not shown.
void ShowLineNumbered(Console& c, unsigned number);

// Decides again where the screens go (--layout, the terminal's size): two
// panes, the line shown and the one beside it (paneLines), or one. Falling
// back to one at a time is said once, until two panes show again.
void ArrangeLines(Console& c);

// " [1 dut] 2 bmc* 3 power!" with several lines: the line shown in
// brackets, the others flagged since they were last shown: * new output,
// # a mark hit, ! down (the line in the other pane only when down). Empty
// with one line.
void LinesStatus(const Console& c, char* text, unsigned capacity);

// With several lines: the timeline's rows (as many as the history keeps,
// at least 10,000), each line's received text fed into it, --timeline's
// file. False with why (the file refused, no memory).
bool StartTimeline(Console& c, char* message, unsigned capacity);
// Once a pass: new rows to the --timeline file and, in batch mode, to
// standard output (the first line's batch output carries them).
void FollowTimeline(Console& c);
// At the end: partial lines become rows and are written out.
void EndTimeline(Console& c);
// Closes the file; a failure is said on standard error.
void FinishTimeline(Console& c);

// The timeline view: opening it, its rows and status line, its keys (while
// it is open every key is its own).
void OpenTimeline(Console& c);
void TimelineFrame(Console& c, Frame* frame);
int TimelineStatus(const Console& c, char* text, unsigned capacity);  // the cursor column, or -1
Reaction TimelineKey(Console& c, int code, bool isKeyCode);

#endif
