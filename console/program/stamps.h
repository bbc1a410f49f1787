// Where the timestamps and boot timers meet the running program: the
// options put into the log, the hex view and the marks at start, the
// menu's live switch of the log's stamps, the last mark for the status
// line, and the marks' summary (batch mode, on stderr) and JSON file at
// exit.
#ifndef BRISVANE_CONSOLE_STAMPS_H
#define BRISVANE_CONSOLE_STAMPS_H

struct Session;

// After the logs opened: the stamps' style, the hex gap, the --mark patterns.
// False with `problem` when --marks-json names what is not a plain file
// (a FIFO would hold the exit in its open).
bool StartStamps(Session& console, char* problem, unsigned capacity);
// The menu's switch: the text log's stamps off, or the next format.
void CycleStamps(Session& console);
// " mark login 12.345 s |" for the status line (" mark dut: login ..."
// with several lines), or nothing.
void AddLastMark(const Session& console, char* text, unsigned capacity);
// At exit: the summary in batch mode, --marks-json written (with several
// lines the first line's file holds every line's marks, from console.all).
// False with `problem` when the file could not be written.
bool FinishStamps(Session& console, char* problem, unsigned capacity);

#endif
