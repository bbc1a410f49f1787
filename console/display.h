// Drawing the 24 x 80 screen in the user's terminal with curses.
//
// The core's display operations only mark what changed; FlushDisplay writes
// the marked rows, the status line and the cursor position in one update.
// The screen sits at the top left, the status line under row 24. A terminal
// smaller than 80 x 25 shows a one-line request to enlarge it instead.
#ifndef BRISVANE_CONSOLE_DISPLAY_H
#define BRISVANE_CONSOLE_DISPLAY_H

// Takes over the terminal (raw keys, no echo, Enter as CR, short Escape
// delay). Returns false when the terminal cannot be used.
bool StartDisplay();
// Gives the terminal back as it was; safe to call more than once.
void StopDisplay();

// Something waits to be drawn.
bool DisplayPending();
// Draws what is marked and places the cursor.
void FlushDisplay();
// The terminal changed size: take the new size and redraw everything.
void ResizeDisplay();
// The status line must be redrawn (its text comes from ComposeStatus).
void MarkStatusChanged();

// Writes the status line's text; defined by the front end's session.
// Returns the column for the cursor on the status line (while the user
// types there), or -1 to leave it on the screen.
int ComposeStatus(char* text, unsigned capacity);

#endif
