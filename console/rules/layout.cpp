#include "console/rules/layout.h"

#include <cstdio>

#include "core/screen.h"

PaneLayout DecideLayout(LayoutChoice choice, int columns, int rows, unsigned lineCount) {
    PaneLayout layout = {};
    layout.count = 1;
    layout.panes[0] = {0, 0, columns};
    if (choice == LayoutChoice::One) return layout;
    bool side = choice == LayoutChoice::Side;
    const char* name = side ? "side" : "stack";
    if (lineCount < 2) {
        std::snprintf(layout.why, sizeof layout.why, "--layout %s: one line only, shown alone", name);
        return layout;
    }
    int needColumns = side ? SideColumns : ScreenColumns;
    int needRows = side ? ScreenRows + 1 : StackRows;
    if (columns < needColumns || rows < needRows) {
        std::snprintf(layout.why, sizeof layout.why,
                      "--layout %s needs %d x %d (now %d x %d): one line at a time", name, needColumns,
                      needRows, columns, rows);
        return layout;
    }
    layout.count = 2;
    if (side) {
        layout.panes[0].width = ScreenColumns;
        layout.panes[1] = {0, ScreenColumns + 1, columns - ScreenColumns - 1};
    } else {
        layout.panes[1] = {ScreenRows + 2, 0, columns};
    }
    return layout;
}
