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

const int StatusRow = ScreenRows;
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

bool LargeEnough() { return LINES > ScreenRows && COLS >= ScreenColumns; }

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

void DrawStatus(const char* text) {
    move(StatusRow, 0);
    attron(A_REVERSE);
    addnstr(text, COLS);
    int row, column;
    getyx(stdscr, row, column);
    if (row == StatusRow && column < COLS) mvhline(StatusRow, column, ' ' | A_REVERSE, COLS - column);
    attroff(A_REVERSE);
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

int DisplayWidth(const Display& display) {
    return display.terminal != nullptr && COLS > 0 ? COLS : ScreenColumns;
}

void FlushDisplay(Display& display, const Frame& frame) {
    if (display.terminal == nullptr) return;
    if (!LargeEnough()) {
        ShowTooSmall(display);
        return;
    }
    if (display.tooSmall) {
        display.tooSmall = false;
        display.stale = true;
    }
    bool changed = display.stale;
    if (display.stale) erase();
    bool markMoved = frame.markRow != display.shownMarkRow || frame.markColumn != display.shownMarkColumn ||
                     frame.markLength != display.shownMarkLength;
    for (int row = 0; row < ScreenRows; ++row) {
        Cell* shown = &display.shown[row * ScreenColumns];
        bool markHere = markMoved && (row == frame.markRow || row == display.shownMarkRow);
        if (!display.stale && !markHere &&
            std::memcmp(shown, frame.rows[row], ScreenColumns * sizeof(Cell)) == 0) {
            continue;
        }
        std::memcpy(shown, frame.rows[row], ScreenColumns * sizeof(Cell));
        DrawCells(row, 0, shown, ScreenColumns, display.unicodeGraphics);
        if (row == frame.markRow && frame.markLength > 0) {
            attron(A_REVERSE);
            DrawCells(row, frame.markColumn, shown + frame.markColumn, frame.markLength,
                      display.unicodeGraphics);
            attroff(A_REVERSE);
        }
        changed = true;
    }
    display.shownMarkRow = frame.markRow;
    display.shownMarkColumn = frame.markColumn;
    display.shownMarkLength = frame.markLength;

    if (display.stale || std::strcmp(frame.status, display.shownStatus) != 0) {
        std::snprintf(display.shownStatus, sizeof display.shownStatus, "%s", frame.status);
        DrawStatus(frame.status);
        changed = true;
    }
    display.stale = false;

    int row = frame.statusCursor >= 0 ? StatusRow : frame.cursorRow;
    int column = frame.statusCursor >= 0 ? frame.statusCursor : frame.cursorColumn;
    if (column >= COLS) column = COLS - 1;
    int visibility = frame.statusCursor >= 0 || frame.cursorVisible ? 1 : 0;
    if (visibility != display.shownCursorVisibility) {
        curs_set(visibility);
        display.shownCursorVisibility = visibility;
        changed = true;
    }
    if (row != display.shownCursorRow || column != display.shownCursorColumn) {
        display.shownCursorRow = row;
        display.shownCursorColumn = column;
        changed = true;
    }
    if (!changed) return;
    move(row, column);
    wnoutrefresh(stdscr);
    doupdate();
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
