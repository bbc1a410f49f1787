#include "core/screen.h"

#include <cstring>

ScreenBuffer screen;
TerminalState terminal;

static void BlankCells(int first, int count) {
    for (int i = first; i < first + count; ++i) screen.cells[i] = BlankCell;
}

void ResetScreen() {
    BlankCells(0, ScreenCells);
    terminal.cursorShown = false;
    terminal.row = 0;
    terminal.column = 0;
    terminal.escapeState = EscapeState::Normal;
    terminal.graphicsMode = false;
}

void ScrollUp() {
    std::memmove(&screen.cells[0], &screen.cells[ScreenColumns],
                 (ScreenCells - ScreenColumns) * sizeof(Cell));
    BlankCells(LastRow * ScreenColumns, ScreenColumns);
    // No hide first: the repaint overwrites the inverted cell.
    RepaintAll();
}

void ScrollDown() {
    std::memmove(&screen.cells[ScreenColumns], &screen.cells[0],
                 (ScreenCells - ScreenColumns) * sizeof(Cell));
    BlankCells(0, ScreenColumns);
}

void EraseToEndOfLine() {
    BlankCells(terminal.row * ScreenColumns + terminal.column, ScreenColumns - terminal.column);
    // Hide before drawing so the inversion is undone on the old pixels.
    HideCursor();
    DrawRow(terminal.row);
}

void EraseToEndOfScreen() {
    int first = terminal.row * ScreenColumns + terminal.column;
    BlankCells(first, ScreenCells - first);
    HideCursor();
    for (int r = terminal.row; r < ScreenRows; ++r) DrawRow(r);
}

void HideCursor() {
    if (terminal.cursorShown) InvertCursorCell(terminal.row, terminal.column);
    terminal.cursorShown = false;
}

void ShowCursor() {
    InvertCursorCell(terminal.row, terminal.column);
    terminal.cursorShown = true;
}
