// Screen model: the 24 x 80 cells the terminal shows, the cursor, and the
// whole-screen operations the interpreter and the menu need.
//
// Owns the process-wide `screen` and `terminal` records. Never draws by
// itself: it tells the display what to redraw through the three display
// operations declared at the end, which whoever links the core defines.
// Single-threaded; every operation keeps row in 0..23 and column in 0..79.
#ifndef BRISVANE_CORE_SCREEN_H
#define BRISVANE_CORE_SCREEN_H

#include <cstdint>

typedef uint16_t Cell;  // one UTF-16 code unit, drawn as one character

enum : int {
    ScreenRows = 24,
    ScreenColumns = 80,
    ScreenCells = ScreenRows * ScreenColumns,
    LastRow = ScreenRows - 1,
    LastColumn = ScreenColumns - 1,
};

const Cell BlankCell = 0x0020;

// Row r, column c is cells[r * 80 + c]; a row is 80 consecutive cells so it
// can be drawn with one text-output call.
struct ScreenBuffer {
    Cell cells[ScreenCells];
};

enum class EscapeState : uint8_t {
    Normal = 0,      // plain text
    Escape = 1,      // ESC received
    RowByte = 2,     // ESC Y received, next byte is the row
    ColumnByte = 3,  // row byte received, next byte is the column
};

struct TerminalState {
    int row;           // cursor row, 0..23
    int column;        // cursor column, 0..79
    bool cursorShown;  // true exactly while the cursor cell is inverted on screen
    EscapeState escapeState;
    bool graphicsMode;
    unsigned pendingRow;  // row byte of ESC Y, kept until the column byte
};

extern ScreenBuffer screen;
extern TerminalState terminal;

// All cells blank, cursor hidden at (0, 0), escape state Normal, graphics
// off. Draws nothing: the caller repaints.
void ResetScreen();
// Rows 1..23 move up one, row 23 blanks, then RepaintAll(). Cursor unchanged.
void ScrollUp();
// Rows 0..22 move down one, row 0 blanks. No repaint: the caller repaints.
void ScrollDown();
// Blank from the cursor to the end of its row, hide the cursor, draw the row.
void EraseToEndOfLine();
// Blank from the cursor to the end of the screen, hide the cursor, then draw
// every row from the cursor's row to 23.
void EraseToEndOfScreen();
// Un-invert the cursor cell if it is shown; a hidden cursor costs no call.
void HideCursor();
// Invert the cursor cell. Only called while the cursor is hidden.
void ShowCursor();

// Display operations, defined by each front end (or by a test's stand-in):
// the window draws at once; the Unix program draws what differs from what
// it last showed, once per frame.
// DrawRow: draw the 80 cells of `row`, overwriting an inverted cursor cell.
void DrawRow(int row);
// InvertCursorCell: invert the pixels of one cell; twice restores them.
void InvertCursorCell(int row, int column);
// RepaintAll: redraw all 24 rows before returning and clear cursorShown.
void RepaintAll();

#endif
