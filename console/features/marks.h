// Boot timers: marks noted the first time the received text holds a
// pattern (--mark TEXT, plain text, matched after the ANSI filter and
// across blocks), or when a script calls mark(name). Each keeps the time
// since the line first opened and since the mark reached before it. The
// status line shows the last one; at exit batch mode prints them all on
// stderr and --marks-json writes them for CI to follow a boot's stages.
//
// Matching costs one memmem per pending pattern and block, and nothing at
// all once every pattern was seen. Pure but for the JSON file.
#ifndef BRISVANE_CONSOLE_MARKS_H
#define BRISVANE_CONSOLE_MARKS_H

#include <cstdint>
#include <cstdio>
#include <ctime>

const unsigned MaxMarks = 32;
const unsigned MarkTextCapacity = 128;

struct Mark {
    char name[MarkTextCapacity];
    char pattern[MarkTextCapacity];  // empty: a script's mark
    unsigned length;                 // of the pattern
    unsigned matched;                // its first bytes that end the text so far
    bool reached;
    double seconds;        // since the line opened
    double sincePrevious;  // since the mark reached before it (or the open)
    double deadline;       // seconds since the open it is due by; 0: none
};

struct Marks {
    Mark marks[MaxMarks];
    unsigned count = 0;
    unsigned pending = 0;  // patterns not yet seen
    bool started = false;
    struct timespec start = {};
    int last = -1;  // the mark reached last
};

// A pattern to look for, due by `deadline` seconds (0: whenever); false
// when it is empty, too long or there is no room.
bool AddMark(Marks& marks, const char* pattern, double deadline = 0);
// A mark with a deadline that was reached after it, or not yet.
inline bool MarkMissed(const Mark& mark) {
    return mark.deadline > 0 && (!mark.reached || mark.seconds > mark.deadline);
}
// The line opened at `at`: the clock starts (the first time only).
void StartMarks(Marks& marks, const struct timespec& at);
// Text received at `arrived` (MatchPending: while some pattern waits).
void MatchPending(Marks& marks, const uint8_t* text, unsigned count, const struct timespec& arrived);
inline void MatchMarks(Marks& marks, const uint8_t* text, unsigned count, const struct timespec& arrived) {
    if (marks.pending > 0 && count > 0) MatchPending(marks, text, count, arrived);
}
// A script's mark: reached at `at`; false when there is no room.
bool ReachMark(Marks& marks, const char* name, const struct timespec& at);

// With several lines a line's marks are said with its label ("dut: ");
// an empty label (one line) says nothing more.
//
// "login 12.345 s" for the status line; empty before the first mark.
void FormatLastMark(const Marks& marks, const char* label, char* text, unsigned capacity);
// One line a mark: "mark 'login:' 12.345 s (+3.210 s)" or "... not reached",
// and "late: due by 10 s" after a missed deadline; "mark dut: 'login:' ...".
void PrintMarks(const Marks& marks, const char* label, FILE* out);
// A line's marks for the JSON file.
struct LineMarks {
    const char* label;
    const Marks* marks;
};
// [{"name": ..., "pattern": ..., "seconds": ..., "since_previous": ...}],
// each line's in turn, a labelled line's with "line": LABEL first; null
// times for a mark not reached. False with `problem` when the file cannot
// be written.
bool WriteMarksJson(const LineMarks* lines, unsigned count, const char* path, char* problem,
                    unsigned capacity);

#endif
