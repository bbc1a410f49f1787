// The history view: the history and the current screen as one page of rows,
// shown 24 at a time, moved by keys and searched backwards and forwards.
//
// Rows are numbered as the history numbers them; the screen's rows follow
// the newest history row (End() + 0..23). The view stays on the rows the
// user put it on while new rows arrive, and counts them. Pure: it reads the
// history and the screen and fills a frame's rows.
#ifndef BRISVANE_CONSOLE_HISTORY_VIEW_H
#define BRISVANE_CONSOLE_HISTORY_VIEW_H

#include <cstdint>

#include "console/rules/history.h"
#include "core/screen.h"

enum class ViewMove : uint8_t { LineUp, LineDown, PageUp, PageDown, Oldest, Newest };

// Where a view's top row goes for `move`, before it is clamped: a line or a
// page (which keeps one row of the last), or the `oldest` or `newest` top.
uint64_t MovedTop(uint64_t top, ViewMove move, uint64_t oldest, uint64_t newest);

struct HistoryView {
    bool open = false;
    uint64_t top = 0;        // number of the top row shown
    uint64_t endAtOpen = 0;  // history's End() when the view opened
    char search[80] = "";    // the text last searched for
    bool haveMatch = false;
    uint64_t matchRow = 0;
    int matchColumn = 0;
    Cell rows[ScreenCells];  // the rows shown, filled by ViewRows
};

// Opens on the current screen.
void OpenView(HistoryView& view, const History& history);
void MoveView(HistoryView& view, const History& history, ViewMove move);

// First and last row numbers that exist: the oldest kept history row, and
// the screen's bottom row.
uint64_t FirstViewRow(const History& history);
uint64_t LastViewRow(const History& history);

// Finds `view.search` from the row before the match (or the view's bottom
// row when there is none) towards older rows (`older`) or newer ones, and
// moves the view to show it. Returns false when there is no such row.
bool FindInView(HistoryView& view, const History& history, const Cell* screenCells, bool older);

// Fills view.rows with the 24 rows from view.top.
void ViewRows(HistoryView& view, const History& history, const Cell* screenCells);

// Rows that arrived in the history since the view opened.
inline uint64_t NewRows(const HistoryView& view, const History& history) {
    return history.End() - view.endAtOpen;
}

#endif
