#include "console/rules/snapshot.h"

#include <cstring>

namespace {

const uint8_t WideCell = 0x80;  // then the cell in two bytes
const uint8_t CursorShownFlag = 1, GraphicsFlag = 2;
const uint8_t EightBitFlag = 1, IntermediatesFlag = 2, AfterReturnFlag = 4;

static_assert(WireScreenPayload == ScreenCells * 2 + 5, "the screen message holds the cells and five bytes");
static_assert(WireChainPayloadMax == 5 + AnsiOscLimit - 1, "the chain message holds what a filter may hold");

// Cells the interpreter can store: printable seven-bit ones and the wider
// graphics cells; never a control, whose drawing would upset a terminal.
bool Drawable(Cell cell) { return cell >= 0x20 && (cell < 0x7f || cell >= 0xa0); }

unsigned PutScreen(const SnapshotCursor& cursor, uint8_t* out, unsigned capacity) {
    if (capacity < WireHeaderSize + WireScreenPayload) return 0;
    PutHeader(out, WireType::Screen, WireScreenPayload);
    uint8_t* at = out + WireHeaderSize;
    for (int i = 0; i < ScreenCells; ++i) {
        *at++ = uint8_t(cursor.screen.cells[i] >> 8);
        *at++ = uint8_t(cursor.screen.cells[i]);
    }
    const TerminalState& t = cursor.terminal;
    *at++ = uint8_t(t.row);
    *at++ = uint8_t(t.column);
    *at++ = uint8_t((t.cursorShown ? CursorShownFlag : 0) | (t.graphicsMode ? GraphicsFlag : 0));
    *at++ = uint8_t(t.escapeState);
    *at++ = uint8_t(t.pendingRow);
    return WireHeaderSize + WireScreenPayload;
}

unsigned PutChain(const SnapshotCursor& cursor, uint8_t* out, unsigned capacity) {
    const AnsiFilter& f = cursor.ansi;
    unsigned length = 5 + f.heldCount;
    if (capacity < WireHeaderSize + length) return 0;
    PutHeader(out, WireType::Chain, length);
    uint8_t* at = out + WireHeaderSize;
    *at++ = uint8_t((f.eightBit ? EightBitFlag : 0) | (f.intermediates ? IntermediatesFlag : 0) |
                    (cursor.afterReturn ? AfterReturnFlag : 0));
    *at++ = cursor.maps;
    *at++ = uint8_t(f.stage);
    *at++ = uint8_t(f.follow);
    *at++ = uint8_t(f.heldCount);
    std::memcpy(at, f.held, f.heldCount);
    return WireHeaderSize + length;
}

// One history row in its wire form at `out` (room for WireHistoryRowMax).
unsigned PutRow(const Cell* cells, unsigned length, uint8_t* out) {
    unsigned at = 0;
    out[at++] = uint8_t(length);
    for (unsigned i = 0; i < length; ++i) {
        if (cells[i] < WideCell) {
            out[at++] = uint8_t(cells[i]);
        } else {
            out[at++] = WideCell;
            out[at++] = uint8_t(cells[i] >> 8);
            out[at++] = uint8_t(cells[i]);
        }
    }
    return at;
}

// As many rows as fit in one History message; 0 when not even one fits.
unsigned PutHistory(SnapshotCursor& cursor, const History& history, uint8_t* out, unsigned capacity) {
    if (capacity < WireHeaderSize + 2 + WireHistoryRowMax) return 0;
    unsigned at = WireHeaderSize + 2, rows = 0;
    Cell cells[ScreenColumns];
    while (rows < WireHistoryRowsMax && cursor.nextRow < cursor.endRow &&
           capacity - at >= WireHistoryRowMax) {
        unsigned length = history.Row(cursor.nextRow++, cells);
        at += PutRow(cells, length, out + at);
        ++rows;
    }
    PutHeader(out, WireType::History, at - WireHeaderSize);
    out[WireHeaderSize] = uint8_t(rows >> 8);
    out[WireHeaderSize + 1] = uint8_t(rows);
    cursor.sent += rows;
    return at;
}

bool RestoreScreen(const WireMessage& message) {
    if (message.length != WireScreenPayload) return false;
    static ScreenBuffer cells;  // checked whole before the screen is touched
    const uint8_t* at = message.payload;
    for (int i = 0; i < ScreenCells; ++i, at += 2) {
        cells.cells[i] = Cell(at[0] << 8 | at[1]);
        if (!Drawable(cells.cells[i])) return false;
    }
    unsigned row = at[0], column = at[1], flags = at[2], escape = at[3], pending = at[4];
    if (row > LastRow || column > LastColumn || flags > (CursorShownFlag | GraphicsFlag) ||
        escape > uint8_t(EscapeState::ColumnByte)) {
        return false;
    }
    screen = cells;
    terminal.row = int(row);
    terminal.column = int(column);
    terminal.graphicsMode = (flags & GraphicsFlag) != 0;
    terminal.escapeState = EscapeState(escape);
    terminal.pendingRow = pending;
    RepaintAll();
    if ((flags & CursorShownFlag) != 0) ShowCursor();
    return true;
}

bool RestoreChain(const WireMessage& message, const ReceiveSeam& seam) {
    const uint8_t* at = message.payload;
    if (message.length < 5 || message.length != 5u + at[4] ||
        at[0] > (EightBitFlag | IntermediatesFlag | AfterReturnFlag) || (at[1] & ~ReceivedMaps) != 0) {
        return false;
    }
    static AnsiFilter given, scratch;  // checked whole before the chain is touched
    given.eightBit = (at[0] & EightBitFlag) != 0;
    given.intermediates = (at[0] & IntermediatesFlag) != 0;
    given.stage = AnsiFilter::Stage(at[2]);
    given.follow = AnsiFilter::Follow(at[3]);
    given.heldCount = at[4];
    std::memcpy(given.held, at + 5, at[4]);
    if (!AdoptAnsiState(seam.ansi != nullptr ? *seam.ansi : scratch, given)) return false;
    if (seam.map != nullptr) seam.map->afterReturn = (at[0] & AfterReturnFlag) != 0;
    if (seam.maps != nullptr) *seam.maps = uint8_t((*seam.maps & ~ReceivedMaps) | at[1]);
    return true;
}

bool RestoreHistory(SnapshotRestore& restore, const WireMessage& message, History& history) {
    if (message.length < 2) return false;
    const uint8_t* at = message.payload + 2;
    const uint8_t* end = message.payload + message.length;
    unsigned rows = unsigned(message.payload[0]) << 8 | message.payload[1];
    if (rows > WireHistoryRowsMax) return false;
    // Checked whole first, so a bad message pushes no row.
    const uint8_t* check = at;
    for (unsigned r = 0; r < rows; ++r) {
        if (check >= end || *check > ScreenColumns) return false;
        unsigned length = *check++;
        for (unsigned i = 0; i < length; ++i) {
            if (check >= end) return false;
            Cell cell = *check++;
            if (cell == WideCell) {
                if (end - check < 2) return false;
                cell = Cell(check[0] << 8 | check[1]);
                check += 2;
            }
            if (!Drawable(cell)) return false;
        }
    }
    if (check != end) return false;
    Cell cells[ScreenColumns];
    for (unsigned r = 0; r < rows; ++r) {
        unsigned length = *at++, i = 0;
        for (; i < length; ++i) {
            cells[i] = *at++;
            if (cells[i] == WideCell) {
                cells[i] = Cell(at[0] << 8 | at[1]);
                at += 2;
            }
        }
        for (; i < ScreenColumns; ++i) cells[i] = BlankCell;
        history.Push(cells);
    }
    restore.rows += rows;
    return true;
}

}  // namespace

void BeginSnapshot(SnapshotCursor& cursor, const History& history, const ReceiveSeam& seam) {
    cursor.screen = screen;
    cursor.terminal = terminal;
    cursor.ansi = seam.ansi != nullptr ? *seam.ansi : AnsiFilter();
    cursor.afterReturn = seam.map != nullptr && seam.map->afterReturn;
    cursor.maps = seam.maps != nullptr ? uint8_t(*seam.maps & ReceivedMaps) : 0;
    cursor.nextRow = history.Oldest();
    cursor.endRow = history.End();
    cursor.sent = 0;
    cursor.stage = SnapshotStage::Screen;
}

unsigned FillSnapshot(SnapshotCursor& cursor, const History& history, uint8_t* out, unsigned capacity) {
    unsigned at = 0;
    for (;;) {
        unsigned n = 0;
        switch (cursor.stage) {
            case SnapshotStage::Screen:
                n = PutScreen(cursor, out + at, capacity - at);
                if (n > 0) cursor.stage = SnapshotStage::Chain;
                break;
            case SnapshotStage::Chain:
                n = PutChain(cursor, out + at, capacity - at);
                if (n > 0) cursor.stage = SnapshotStage::History;
                break;
            case SnapshotStage::History:
                // Rows the ring has overwritten meanwhile are gone: skip them.
                if (cursor.nextRow < history.Oldest()) cursor.nextRow = history.Oldest();
                if (cursor.nextRow >= cursor.endRow) {
                    cursor.stage = SnapshotStage::End;
                    continue;
                }
                n = PutHistory(cursor, history, out + at, capacity - at);
                break;
            case SnapshotStage::End:
                if (capacity - at >= WireHeaderSize + 8) {
                    PutHeader(out + at, WireType::HistoryEnd, 8);
                    for (int i = 0; i < 8; ++i)
                        out[at + WireHeaderSize + i] = uint8_t(cursor.sent >> (56 - 8 * i));
                    n = WireHeaderSize + 8;
                    cursor.stage = SnapshotStage::Done;
                }
                break;
            case SnapshotStage::Done: break;
        }
        if (n == 0) return at;
        at += n;
    }
}

bool RestoreSnapshot(SnapshotRestore& restore, const WireMessage& message, History& history,
                     const ReceiveSeam& seam) {
    switch (message.type) {
        case WireType::Screen:
            if (restore.chain || !RestoreScreen(message)) return false;
            restore.screen = true;
            return true;
        case WireType::Chain:
            if (!restore.screen || restore.chain || !RestoreChain(message, seam)) return false;
            restore.chain = true;
            return true;
        case WireType::History:
            return restore.chain && !restore.complete && RestoreHistory(restore, message, history);
        case WireType::HistoryEnd: {
            if (message.length != 8 || !restore.chain || restore.complete) return false;
            uint64_t total = 0;
            for (int i = 0; i < 8; ++i) total = total << 8 | message.payload[i];
            if (total != restore.rows) return false;
            restore.complete = true;
            return true;
        }
        default: return false;
    }
}
