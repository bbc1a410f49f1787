#include "console/rules/history_view.h"

#include <cstring>

namespace {

void Clamp(HistoryView& view, const History& history) {
    uint64_t newestTop = history.End();  // the screen exactly
    if (view.top < FirstViewRow(history)) view.top = FirstViewRow(history);
    if (view.top > newestTop) view.top = newestTop;
}

// Row `number` as cells: history, screen, or blank beyond both.
void RowCells(const History& history, const Cell* screenCells, uint64_t number, Cell* cells) {
    if (number < history.End()) {
        history.Row(number, cells);
        return;
    }
    uint64_t screenRow = number - history.End();
    if (screenRow < uint64_t(ScreenRows)) {
        std::memcpy(cells, &screenCells[screenRow * ScreenColumns], ScreenColumns * sizeof(Cell));
    } else {
        for (int i = 0; i < ScreenColumns; ++i) cells[i] = BlankCell;
    }
}

// The first column where `text` starts in the row, or -1. Graphics cells
// never match.
int FindInRow(const Cell* cells, const char* text) {
    char line[ScreenColumns + 1];
    for (int i = 0; i < ScreenColumns; ++i) line[i] = cells[i] < 0x80 ? char(cells[i]) : '\x01';
    line[ScreenColumns] = '\0';
    const char* found = std::strstr(line, text);
    return found != nullptr ? int(found - line) : -1;
}

}  // namespace

uint64_t FirstViewRow(const History& history) { return history.Oldest(); }
uint64_t LastViewRow(const History& history) { return history.End() + ScreenRows - 1; }

void OpenView(HistoryView& view, const History& history) {
    view.open = true;
    view.top = history.End();
    view.endAtOpen = history.End();
    view.haveMatch = false;
}

uint64_t MovedTop(uint64_t top, ViewMove move, uint64_t oldest, uint64_t newest) {
    const uint64_t PageRows = ScreenRows - 1;
    switch (move) {
        case ViewMove::LineUp: return top > 0 ? top - 1 : 0;
        case ViewMove::LineDown: return top + 1;
        case ViewMove::PageUp: return top > PageRows ? top - PageRows : 0;
        case ViewMove::PageDown: return top + PageRows;
        case ViewMove::Oldest: return oldest;
        case ViewMove::Newest: return newest;
    }
    return top;
}

void MoveView(HistoryView& view, const History& history, ViewMove move) {
    view.top = MovedTop(view.top, move, FirstViewRow(history), history.End());
    Clamp(view, history);
}

bool FindInView(HistoryView& view, const History& history, const Cell* screenCells, bool older) {
    if (view.search[0] == '\0') return false;
    Clamp(view, history);
    uint64_t first = FirstViewRow(history);
    uint64_t last = LastViewRow(history);
    uint64_t start;
    if (view.haveMatch && view.matchRow >= first && view.matchRow <= last) {
        if (older ? view.matchRow == first : view.matchRow == last) return false;
        start = older ? view.matchRow - 1 : view.matchRow + 1;
    } else {
        start = older ? view.top + ScreenRows - 1 : view.top;
        if (start > last) start = last;
    }
    Cell cells[ScreenColumns];
    for (uint64_t row = start;; row = older ? row - 1 : row + 1) {
        RowCells(history, screenCells, row, cells);
        int column = FindInRow(cells, view.search);
        if (column >= 0) {
            view.haveMatch = true;
            view.matchRow = row;
            view.matchColumn = column;
            if (row < view.top || row >= view.top + ScreenRows) {
                view.top = row > ScreenRows / 2 ? row - ScreenRows / 2 : 0;  // the match mid-page
                Clamp(view, history);
            }
            return true;
        }
        if (older ? row == first : row == last) return false;
    }
}

void ViewRows(HistoryView& view, const History& history, const Cell* screenCells) {
    Clamp(view, history);  // the ring may have forgotten the rows shown
    for (int i = 0; i < ScreenRows; ++i) {
        RowCells(history, screenCells, view.top + uint64_t(i), &view.rows[i * ScreenColumns]);
    }
}
