#include "console/display.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/screen.h"

static SCREEN* terminalScreen;
static uint32_t dirtyRows;  // bit r: row r changed
static bool statusChanged;
static bool unicodeGraphics;
static int statusCursor = -1;  // column on the status line, or -1

const uint32_t AllRows = (1u << ScreenRows) - 1;
const int StatusRow = ScreenRows;

void DrawRow(int row) { dirtyRows |= 1u << row; }

// The terminal's own cursor is placed at every flush, so there is nothing to
// invert here.
void InvertCursorCell(int, int) {}

void RepaintAll() {
    dirtyRows = AllRows;
    terminal.cursorShown = false;
}

bool DisplayPending() { return dirtyRows != 0 || statusChanged; }

void MarkStatusChanged() { statusChanged = true; }

bool StartDisplay() {
    terminalScreen = newterm(nullptr, stdout, stdin);
    if (terminalScreen == nullptr) return false;
    unicodeGraphics = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    set_escdelay(25);
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    curs_set(1);
    dirtyRows = AllRows;
    statusChanged = true;
    return true;
}

void StopDisplay() {
    if (terminalScreen == nullptr) return;
    endwin();
    delscreen(terminalScreen);
    terminalScreen = nullptr;
}

// The four graphics characters, or what stands in for them where the
// terminal's character set has no such characters.
static wchar_t Glyph(Cell cell) {
    if (cell < 0x80) return wchar_t(cell);
    if (unicodeGraphics) return wchar_t(cell);
    switch (cell) {
        case 0x2588: return L'#';  // full block
        case 0x2192: return L'>';  // right arrow
        case 0x2026: return L':';  // ellipsis
        case 0x2193: return L'v';  // down arrow
        default: return L'?';
    }
}

static bool LargeEnough() { return LINES > ScreenRows && COLS >= ScreenColumns; }

static void DrawStatus() {
    char text[256];
    statusCursor = ComposeStatus(text, sizeof text);
    if (statusCursor >= ScreenColumns) statusCursor = ScreenColumns - 1;
    move(StatusRow, 0);
    clrtoeol();
    attron(A_REVERSE);
    mvaddnstr(StatusRow, 0, text, ScreenColumns);
    attroff(A_REVERSE);
}

void FlushDisplay() {
    if (terminalScreen == nullptr) return;
    if (!LargeEnough()) {
        if (DisplayPending()) {
            erase();
            char text[128];
            std::snprintf(text, sizeof text, "brisvane needs 80 x 25 (now %d x %d): please enlarge",
                          COLS, LINES);
            mvaddnstr(0, 0, text, COLS);
            refresh();
        }
        // Redraw everything once the size is right again.
        dirtyRows = 0;
        statusChanged = false;
        return;
    }
    wchar_t line[ScreenColumns + 1];
    for (int row = 0; row < ScreenRows; ++row) {
        if ((dirtyRows & (1u << row)) == 0) continue;
        const Cell* cells = &screen.cells[row * ScreenColumns];
        for (int column = 0; column < ScreenColumns; ++column) line[column] = Glyph(cells[column]);
        line[ScreenColumns] = L'\0';
        mvaddnwstr(row, 0, line, ScreenColumns);
    }
    if (statusChanged) DrawStatus();
    dirtyRows = 0;
    statusChanged = false;
    if (statusCursor >= 0) {
        move(StatusRow, statusCursor);
    } else {
        move(terminal.row, terminal.column);
    }
    wnoutrefresh(stdscr);
    doupdate();
}

void ResizeDisplay() {
    if (terminalScreen == nullptr) return;
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        resizeterm(size.ws_row, size.ws_col);
    }
    clearok(curscr, TRUE);
    erase();
    dirtyRows = AllRows;
    statusChanged = true;
}
