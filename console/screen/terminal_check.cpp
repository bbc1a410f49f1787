#include "console/screen/terminal_check.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

bool TerminalCanBeDriven(char* problem, unsigned capacity) {
    const char* type = std::getenv("TERM");
    if (type == nullptr || type[0] == '\0') {
        std::snprintf(problem, capacity, "TERM is not set: set it to your terminal's type");
        return false;
    }
    int error = 0;
    if (setupterm(type, STDOUT_FILENO, &error) != OK) {
        std::snprintf(problem, capacity,
                      "TERM=%s: a terminal type unknown here: set TERM to your terminal's type", type);
        return false;
    }
    const char* move = tigetstr("cup");
    bool canMove = move != nullptr && move != reinterpret_cast<const char*>(-1);
    del_curterm(cur_term);  // newterm sets up its own
    if (!canMove) {
        std::snprintf(problem, capacity,
                      "TERM=%s: this terminal cannot place the cursor: run brisvane in one that can", type);
    }
    return canMove;
}
