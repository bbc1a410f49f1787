// Drawing in the user's terminal with curses: 24 rows of 80 cells at the
// top left and the status line under them, as wide as the terminal.
//
// The display keeps a copy of what it last drew and, at each flush, writes
// only the rows, marks, status text and cursor that differ; so the core's
// display operations need do nothing, and a flood costs one comparison of
// the screen per frame. A terminal smaller than 80 x 25 shows a one-line
// request to enlarge it instead. Bracketed paste is turned on while the
// display runs, so pastes arrive marked.
#ifndef BRISVANE_CONSOLE_DISPLAY_H
#define BRISVANE_CONSOLE_DISPLAY_H

#include <cstdio>

#include "core/screen.h"

typedef struct screen SCREEN;

const unsigned StatusCapacity = 512;

// What one flush shows.
struct Frame {
    const Cell* rows[ScreenRows];  // 80 cells each
    int markRow;                   // cells drawn in reverse (a found text), or -1
    int markColumn, markLength;
    const char* status;  // the status line
    int statusCursor;    // the cursor's column on the status line, or -1
    int cursorRow, cursorColumn;
    bool cursorVisible;
};

struct Display {
    SCREEN* terminal = nullptr;
    bool unicodeGraphics = false;
    bool stale = true;      // nothing shown can be trusted: draw everything
    bool tooSmall = false;  // the request to enlarge is shown
    Cell shown[ScreenCells];
    int shownMarkRow = -1, shownMarkColumn = 0, shownMarkLength = 0;
    char shownStatus[StatusCapacity] = "";
    int shownCursorRow = -1, shownCursorColumn = -1;
    int shownCursorVisibility = -1;
};

// Takes over the terminal (raw keys, no echo, Enter as CR, short Escape
// delay, keypad and bracketed paste on). Returns false when the terminal
// cannot be driven.
bool StartDisplay(Display& display);
// Gives the terminal back as it was; safe to call more than once.
void StopDisplay(Display& display);
// Back in program mode after the program was stopped and continued from
// outside (the shell may have changed the terminal's modes meanwhile).
void ResumeDisplay(Display& display);
// The terminal changed size: take the new size; everything is drawn anew.
void ResizeDisplay(Display& display);
// Clears the user's terminal and draws everything anew at the next flush.
void RedrawDisplay(Display& display);

// The terminal's width, for the status line.
int DisplayWidth(const Display& display);
// Draws what differs from what is shown and places the cursor.
void FlushDisplay(Display& display, const Frame& frame);

// After StopDisplay: the screen's rows as text on `out`, up to the last
// row that is not blank, so they stay in the terminal's own scrollback.
void PrintScreen(const Display& display, const Cell* cells, FILE* out, bool everyRow = false);

#endif
