// Drawing in the user's terminal with curses: 24 rows of 80 cells at the
// top left and the status line under them, as wide as the terminal; or two
// such panes where the layout puts them (console/rules/layout.h), each with
// its own status line.
//
// Each pane keeps a copy of what it last drew and, at each flush, writes
// only the rows, marks and status text that differ, then the cursor; so the
// core's display operations need do nothing, and a flood costs one
// comparison of the screen per frame. A terminal smaller than the panes
// (80 x 25 for one) shows a one-line request to enlarge it instead.
// Bracketed paste is turned on while the display runs, so pastes arrive
// marked.
#ifndef BRISVANE_CONSOLE_DISPLAY_H
#define BRISVANE_CONSOLE_DISPLAY_H

#include <cstdio>

#include "console/rules/layout.h"
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

// One screen's place and what was last drawn there.
struct DisplayPane {
    PanePlace place = {0, 0, 0};  // width 0: to the terminal's right edge
    Cell shown[ScreenCells];
    int shownMarkRow = -1, shownMarkColumn = 0, shownMarkLength = 0;
    char shownStatus[StatusCapacity] = "";
    int cursorRow = 0, cursorColumn = 0;  // where its last frame put the cursor, in the terminal
    bool cursorVisible = false;
};

struct Display {
    SCREEN* terminal = nullptr;
    bool unicodeGraphics = false;
    bool stale = true;      // nothing shown can be trusted: draw everything
    bool tooSmall = false;  // the request to enlarge is shown
    DisplayPane panes[PanesMax];
    unsigned paneCount = 1;
    bool sideBySide = false;  // a separating column between the panes
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

// Puts the panes where `layout` says; a change draws everything anew.
void ArrangeDisplay(Display& display, const PaneLayout& layout);

// The terminal's size (80 x 25 without one), and a pane's status line's width.
int DisplayWidth(const Display& display);
int DisplayHeight(const Display& display);
int PaneWidth(const Display& display, unsigned pane);

// One flush: BeginFlush (false: the terminal is smaller than the panes, and
// the request to enlarge is shown instead), each pane's frame (DrawPane
// draws what differs and says whether anything did), then EndFlush places
// the cursor where the frame of `cursorPane` put it and shows it all.
bool BeginFlush(Display& display);
bool DrawPane(Display& display, unsigned pane, const Frame& frame);
void EndFlush(Display& display, unsigned cursorPane, bool changed);
// The three for the first pane alone.
void FlushDisplay(Display& display, const Frame& frame);

// After StopDisplay: the screen's rows as text on `out`, up to the last
// row that is not blank, so they stay in the terminal's own scrollback.
void PrintScreen(const Display& display, const Cell* cells, FILE* out, bool everyRow = false);

#endif
