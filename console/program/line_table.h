// The program's lines as a line's own work sees them (a script naming
// another line, the marks' file of several lines): each line's Session, in
// order, and where the program keeps the line whose records the core holds,
// so that work on another line can make that one current first and give
// the core back after. Made once at start-up; it outlives the loop.
#ifndef BRISVANE_CONSOLE_LINE_TABLE_H
#define BRISVANE_CONSOLE_LINE_TABLE_H

struct Session;

const unsigned LinesMax = 9;

struct LineTable {
    Session* lines[LinesMax] = {};
    unsigned count = 0;
    Session** current = nullptr;  // the program's: the line the core works on
};

// Makes `line` the current one (its screen, interpreter, output queue and
// transfer files the core's), as the program's Enter does.
void EnterLine(Session** current, Session& line);

// The line labelled `label`, or -1.
int FindLine(const LineTable& table, const char* label);

#endif
