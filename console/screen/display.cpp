#include "console/screen/display.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const int EscapeDelayMilliseconds = 25;
const char BracketedPasteOn[] = "\033[?2004h";
const char BracketedPasteOff[] = "\033[?2004l";

// The four graphics characters, or what stands in for them where the
// terminal's character set has no such characters.
wchar_t Glyph(Cell cell, bool unicode) {
    if (cell < 0x80 || unicode) return wchar_t(cell);
    switch (cell) {
        case 0x2588: return L'#';  // full block
        case 0x2192: return L'>';  // right arrow
        case 0x2026: return L':';  // ellipsis
        case 0x2193: return L'v';  // down arrow
        default: return L'?';
    }
}

// The panes and their status lines fit in the terminal.
bool LargeEnough(const Display& display) {
    for (unsigned i = 0; i < display.paneCount; ++i) {
        const PanePlace& place = display.panes[i].place;
        if (LINES <= place.row + ScreenRows || COLS < place.column + ScreenColumns) return false;
    }
    return true;
}

// A pane's status line: its own width, else to the terminal's right edge.
int StatusWidth(const DisplayPane& pane) {
    int room = COLS - pane.place.column;
    return pane.place.width > 0 && pane.place.width < room ? pane.place.width : room;
}

void SendToTerminal(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void DrawCells(int row, int column, const Cell* cells, int count, bool unicode) {
    wchar_t line[ScreenColumns + 1];
    for (int i = 0; i < count; ++i) line[i] = Glyph(cells[i], unicode);
    line[count] = L'\0';
    mvaddnwstr(row, column, line, count);
}

void DrawStatus(int row, int column, int width, const char* text) {
    move(row, column);
    attron(A_REVERSE);
    addnstr(text, width);
    int atRow, atColumn;
    getyx(stdscr, atRow, atColumn);
    int end = column + width;
    if (atRow == row && atColumn < end) mvhline(row, atColumn, ' ' | A_REVERSE, end - atColumn);
    attroff(A_REVERSE);
}

// Between two panes side by side: a line down the screens' rows.
void DrawSeparator(bool unicode) {
    const wchar_t* bar = unicode ? L"\u2502" : L"|";
    for (int row = 0; row < ScreenRows; ++row) mvaddnwstr(row, ScreenColumns, bar, 1);
}

void ShowTooSmall(Display& display) {
    if (display.tooSmall) return;
    erase();
    // The longest wording that fits, down to the size alone.
    char text[128];
    std::snprintf(text, sizeof text, "brisvane needs 80 x 25 (now %d x %d): please enlarge", COLS, LINES);
    if (int(std::strlen(text)) > COLS)
        std::snprintf(text, sizeof text, "need 80x25 (now %dx%d)", COLS, LINES);
    if (int(std::strlen(text)) > COLS) std::snprintf(text, sizeof text, "need 80x25");
    mvaddnstr(0, 0, text, COLS);
    refresh();
    display.tooSmall = true;
}

}  // namespace

bool StartDisplay(Display& display) {
    display.terminal = newterm(nullptr, stdout, stdin);
    if (display.terminal == nullptr) return false;
    display.unicodeGraphics = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    set_escdelay(EscapeDelayMilliseconds);
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    // No check for waiting keys while drawing: curses would poll the
    // keyboard once per row it updates, and the loop reads keys anyway.
    typeahead(-1);
    SendToTerminal(BracketedPasteOn);
    display.stale = true;
    return true;
}

void StopDisplay(Display& display) {
    if (display.terminal == nullptr) return;
    SendToTerminal(BracketedPasteOff);
    endwin();
    delscreen(display.terminal);
    display.terminal = nullptr;
}

void ResumeDisplay(Display& display) {
    if (display.terminal == nullptr) return;
    reset_prog_mode();
    keypad(stdscr, TRUE);
    SendToTerminal(BracketedPasteOn);
    RedrawDisplay(display);
}

void ResizeDisplay(Display& display) {
    if (display.terminal == nullptr) return;
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        resizeterm(size.ws_row, size.ws_col);
    }
    RedrawDisplay(display);
}

void RedrawDisplay(Display& display) {
    if (display.terminal == nullptr) return;
    clearok(curscr, TRUE);
    erase();
    display.stale = true;
    display.tooSmall = false;  // the request is drawn again if still needed
    display.shownCursorVisibility = -1;
}

void ArrangeDisplay(Display& display, const PaneLayout& layout) {
    bool changed = layout.count != display.paneCount;
    for (unsigned i = 0; i < layout.count; ++i) {
        const PanePlace& now = display.panes[i].place;
        const PanePlace& to = layout.panes[i];
        changed = changed || now.row != to.row || now.column != to.column || now.width != to.width;
        display.panes[i].place = to;
    }
    display.paneCount = layout.count;
    display.sideBySide = layout.count > 1 && layout.panes[1].row == layout.panes[0].row;
    // A stale display is drawn whole at the next flush anyway.
    if (changed && !display.stale) RedrawDisplay(display);
}

int DisplayWidth(const Display& display) {
    return display.terminal != nullptr && COLS > 0 ? COLS : ScreenColumns;
}

int DisplayHeight(const Display& display) {
    return display.terminal != nullptr && LINES > 0 ? LINES : ScreenRows + 1;
}

int PaneWidth(const Display& display, unsigned pane) {
    if (display.terminal == nullptr || pane >= display.paneCount) return ScreenColumns;
    return StatusWidth(display.panes[pane]);
}

bool BeginFlush(Display& display) {
    if (display.terminal == nullptr) return false;
    if (!LargeEnough(display)) {
        ShowTooSmall(display);
        return false;
    }
    if (display.tooSmall) {
        display.tooSmall = false;
        display.stale = true;
    }
    if (display.stale) {
        erase();
        if (display.sideBySide) DrawSeparator(display.unicodeGraphics);
    }
    return true;
}

bool DrawPane(Display& display, unsigned number, const Frame& frame) {
    DisplayPane& pane = display.panes[number];
    const int top = pane.place.row, left = pane.place.column;
    bool changed = display.stale;
    bool markMoved = frame.markRow != pane.shownMarkRow || frame.markColumn != pane.shownMarkColumn ||
                     frame.markLength != pane.shownMarkLength;
    for (int row = 0; row < ScreenRows; ++row) {
        Cell* shown = &pane.shown[row * ScreenColumns];
        bool markHere = markMoved && (row == frame.markRow || row == pane.shownMarkRow);
        if (!display.stale && !markHere &&
            std::memcmp(shown, frame.rows[row], ScreenColumns * sizeof(Cell)) == 0) {
            continue;
        }
        std::memcpy(shown, frame.rows[row], ScreenColumns * sizeof(Cell));
        DrawCells(top + row, left, shown, ScreenColumns, display.unicodeGraphics);
        if (row == frame.markRow && frame.markLength > 0) {
            attron(A_REVERSE);
            DrawCells(top + row, left + frame.markColumn, shown + frame.markColumn, frame.markLength,
                      display.unicodeGraphics);
            attroff(A_REVERSE);
        }
        changed = true;
    }
    pane.shownMarkRow = frame.markRow;
    pane.shownMarkColumn = frame.markColumn;
    pane.shownMarkLength = frame.markLength;

    int width = StatusWidth(pane);
    if (display.stale || std::strcmp(frame.status, pane.shownStatus) != 0) {
        std::snprintf(pane.shownStatus, sizeof pane.shownStatus, "%s", frame.status);
        DrawStatus(top + ScreenRows, left, width, frame.status);
        changed = true;
    }
    bool onStatus = frame.statusCursor >= 0;
    pane.cursorRow = top + (onStatus ? ScreenRows : frame.cursorRow);
    pane.cursorColumn = left + (onStatus ? frame.statusCursor : frame.cursorColumn);
    if (pane.cursorColumn >= left + width) pane.cursorColumn = left + width - 1;
    pane.cursorVisible = onStatus || frame.cursorVisible;
    return changed;
}

void EndFlush(Display& display, unsigned cursorPane, bool changed) {
    display.stale = false;
    const DisplayPane& pane = display.panes[cursorPane < display.paneCount ? cursorPane : 0];
    int visibility = pane.cursorVisible ? 1 : 0;
    if (visibility != display.shownCursorVisibility) {
        curs_set(visibility);
        display.shownCursorVisibility = visibility;
        changed = true;
    }
    if (pane.cursorRow != display.shownCursorRow || pane.cursorColumn != display.shownCursorColumn) {
        display.shownCursorRow = pane.cursorRow;
        display.shownCursorColumn = pane.cursorColumn;
        changed = true;
    }
    if (!changed) return;
    move(pane.cursorRow, pane.cursorColumn);
    wnoutrefresh(stdscr);
    doupdate();
}

void FlushDisplay(Display& display, const Frame& frame) {
    if (!BeginFlush(display)) return;
    EndFlush(display, 0, DrawPane(display, 0, frame));
}

void PrintScreen(const Display& display, const Cell* cells, FILE* out, bool everyRow) {
    int last = ScreenRows - 1;
    auto blank = [cells](int row) {
        for (int c = 0; c < ScreenColumns; ++c) {
            if (cells[row * ScreenColumns + c] != BlankCell) return false;
        }
        return true;
    };
    while (!everyRow && last >= 0 && blank(last)) --last;
    for (int row = 0; row <= last; ++row) {
        const Cell* line = &cells[row * ScreenColumns];
        int length = ScreenColumns;
        while (length > 0 && line[length - 1] == BlankCell) --length;
        for (int c = 0; c < length; ++c) {
            char bytes[8];
            std::mbstate_t state = {};
            size_t n = std::wcrtomb(bytes, Glyph(line[c], display.unicodeGraphics), &state);
            if (n == size_t(-1)) {
                bytes[0] = '?';
                n = 1;
            }
            std::fwrite(bytes, 1, n, out);
        }
        std::fputc('\n', out);
    }
    std::fflush(out);
}

// The core's display operations: the flush compares the screen with what it
// last drew, so there is nothing to note here. The terminal's own cursor is
// placed at every flush, so there is nothing to invert either.
void DrawRow(int) {}
void InvertCursorCell(int, int) {}
void RepaintAll() { terminal.cursorShown = false; }
