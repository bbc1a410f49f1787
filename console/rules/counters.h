// What the line carried in this run, for the menu key then i and for
// --stats at exit: bytes received and sent, bytes dropped or refused (typed
// while the line was away, a paste cut short, what waited when the line
// went away, a key or identify reply with no room left), reconnects, and
// the time the line was open. Pure: the caller gives the time and says what
// happened.
#ifndef BRISVANE_CONSOLE_COUNTERS_H
#define BRISVANE_CONSOLE_COUNTERS_H

#include <cstdint>

struct Counters {
    uint64_t received = 0;
    uint64_t sent = 0;
    uint64_t dropped = 0;
    uint32_t opens = 0;      // the first, then the reconnects
    int64_t openSince = -1;  // ms, while the line is open; -1 while it is not
    int64_t openBefore = 0;  // ms the line was open before openSince
};

// The line's state at `now`, told once per loop pass; counts the edges.
void NoteLineOpen(Counters& counters, bool open, int64_t now);

// "received 1,234  sent 56  dropped 0  reconnects 1  connected 0:01:02"
void FormatCounters(const Counters& counters, int64_t now, char* text, unsigned capacity);

// The driver's error counts after them: "  framing 0  parity 0  overrun 2
// breaks 1", or "  line errors: not reported" when `errors` is null (the
// line keeps none: never a 0 it did not count).
struct LineErrorCounts;
void AddLineErrors(const LineErrorCounts* errors, char* text, unsigned capacity);
// 1234567 as "1,234,567".
void FormatCount(uint64_t value, char* text, unsigned capacity);

#endif
