// Where the screens go in the user's terminal. One line at a time (the
// default): one 24 x 80 screen at the top left, its status line as wide as
// the terminal. --layout side: two screens side by side, a separating column
// between them (161 columns, 25 rows); --layout stack: one above the other,
// a separating row between them (80 columns, 51 rows). Each screen has its
// own status line under it. Without the room, or with one line only, it is
// one at a time, and `why` says so. Pure: sizes in, places out.
#ifndef BRISVANE_CONSOLE_LAYOUT_H
#define BRISVANE_CONSOLE_LAYOUT_H

#include <cstdint>

enum class LayoutChoice : uint8_t { One, Side, Stack };

const unsigned PanesMax = 2;
const int SideColumns = 161;  // 80 + a separating column + 80
const int StackRows = 51;     // (24 + a status line) twice, a separating row between

// A screen's top-left cell; its status line is the row under the screen,
// `width` columns from the same column.
struct PanePlace {
    int row, column, width;
};

struct PaneLayout {
    unsigned count;  // 1 or 2
    PanePlace panes[PanesMax];
    char why[128];  // a layout of two that fell back to one: why; else empty
};

PaneLayout DecideLayout(LayoutChoice choice, int columns, int rows, unsigned lineCount);

#endif
