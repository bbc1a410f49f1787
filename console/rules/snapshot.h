// The state an attaching client is given before any new byte: the screen
// and the terminal record (cursor, escape state, graphics mode, the pending
// row byte) as they were at its hello, then the history's rows, oldest
// first, then the history's end. The client restores them into its own
// records and history; the bytes that follow then give the same screen on
// both sides.
//
// On the server a snapshot is a small cursor per client: the screen is
// copied once (a few KB, in the client's slot), the history is read as the
// client's buffer has room, so a client's snapshot never takes more than
// its buffer. Rows the ring overwrote before they were sent are skipped.
#ifndef BRISVANE_CONSOLE_SERVE_SNAPSHOT_H
#define BRISVANE_CONSOLE_SERVE_SNAPSHOT_H

#include <cstdint>

#include "console/rules/history.h"
#include "console/rules/wire.h"
#include "core/screen.h"

enum class SnapshotStage : uint8_t { Screen, History, End, Done };

struct SnapshotCursor {
    ScreenBuffer screen;
    TerminalState terminal;
    uint64_t nextRow;  // the history row to send next
    uint64_t endRow;   // the history's End() at the hello
    uint64_t sent;     // rows sent so far
    SnapshotStage stage;
};

// Takes the process's screen and terminal records and the history's extent
// now: what the client is owed.
void BeginSnapshot(SnapshotCursor& cursor, const History& history);
// Writes as many whole messages of the snapshot as fit in `capacity` bytes
// at `out`, and returns how many bytes that made (0: no room, or done).
unsigned FillSnapshot(SnapshotCursor& cursor, const History& history, uint8_t* out, unsigned capacity);
inline bool SnapshotDone(const SnapshotCursor& cursor) { return cursor.stage == SnapshotStage::Done; }

// The client's side: what it has restored so far.
struct SnapshotRestore {
    bool screen = false;    // the screen has come (and was drawn)
    bool complete = false;  // the history's end has come
    uint64_t rows = 0;      // history rows restored
};

// Applies one snapshot message (Screen, History, HistoryEnd) to the
// process's screen and terminal records and to `history`. The screen is
// drawn (RepaintAll, and the cursor shown if it was on the server). False,
// with nothing changed by the bad part, for a payload that does not parse,
// holds a cell no interpreter makes or a cursor off the screen, or a
// history end whose count differs from the rows given.
bool RestoreSnapshot(SnapshotRestore& restore, const WireMessage& message, History& history);

#endif
