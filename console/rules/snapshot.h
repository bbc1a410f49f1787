// The state an attaching client is given before any new byte: the screen
// and the terminal record (cursor, escape state, graphics mode, the pending
// row byte) as they were at its hello, then the receive chain's state
// before the interpreter (the received line-end maps, the map after a CR,
// the ANSI filter part-way through a sequence), then the history's rows,
// oldest first, then the history's end. The client restores them into its
// own records, chain and history; the bytes that follow then give the same
// screen on both sides. Whether ANSI sequences are hidden or shown stays
// each side's own choice.
//
// On the server a snapshot is a small cursor per client: the screen is
// copied once (a few KB, in the client's slot), the history is read as the
// client's buffer has room, so a client's snapshot never takes more than
// its buffer. Rows the ring overwrote before they were sent are skipped.
#ifndef BRISVANE_CONSOLE_SNAPSHOT_H
#define BRISVANE_CONSOLE_SNAPSHOT_H

#include <cstdint>

#include "console/rules/ansi_filter.h"
#include "console/rules/history.h"
#include "console/rules/line_maps.h"
#include "console/rules/wire.h"
#include "core/screen.h"

enum class SnapshotStage : uint8_t { Screen, Chain, History, End, Done };

// The receive chain's stateful stages between the line's raw bytes and the
// interpreter: the server's are read at a hello, a client's are set as its
// snapshot comes. Null: none (a client then only checks the message).
struct ReceiveSeam {
    AnsiFilter* ansi = nullptr;
    ReceivedMap* map = nullptr;
    uint8_t* maps = nullptr;  // LineMap bits: the received ones are the line's
};

struct SnapshotCursor {
    ScreenBuffer screen;
    TerminalState terminal;
    AnsiFilter ansi;
    bool afterReturn;
    uint8_t maps;      // the received ones
    uint64_t nextRow;  // the history row to send next
    uint64_t endRow;   // the history's End() at the hello
    uint64_t sent;     // rows sent so far
    SnapshotStage stage;
};

// Takes the process's screen and terminal records, the chain's state in
// `seam` and the history's extent now: what the client is owed.
void BeginSnapshot(SnapshotCursor& cursor, const History& history, const ReceiveSeam& seam = {});
// Writes as many whole messages of the snapshot as fit in `capacity` bytes
// at `out`, and returns how many bytes that made (0: no room, or done).
unsigned FillSnapshot(SnapshotCursor& cursor, const History& history, uint8_t* out, unsigned capacity);
inline bool SnapshotDone(const SnapshotCursor& cursor) { return cursor.stage == SnapshotStage::Done; }

// The client's side: what it has restored so far.
struct SnapshotRestore {
    bool screen = false;    // the screen has come (and was drawn)
    bool chain = false;     // the receive chain's state has come
    bool complete = false;  // the history's end has come
    uint64_t rows = 0;      // history rows restored
};

// Applies one snapshot message (Screen, Chain, History, HistoryEnd) to the
// process's screen and terminal records, to the chain's stages in `seam`
// and to `history`, in that order. The screen is drawn (RepaintAll, and the
// cursor shown if it was on the server). False, with nothing changed by the
// bad part, for a message out of that order, a payload that does not parse,
// holds a cell no interpreter makes, a cursor off the screen or a filter
// state no filter reaches, or a history end whose count differs from the
// rows given.
bool RestoreSnapshot(SnapshotRestore& restore, const WireMessage& message, History& history,
                     const ReceiveSeam& seam = {});

#endif
