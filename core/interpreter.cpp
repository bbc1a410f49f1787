#include "core/interpreter.h"

#include <cstring>

#include "core/byte_words.h"
#include "core/output_queue.h"
#include "core/screen.h"

enum : uint8_t {
    Backspace = 8,
    HorizontalTab = 9,
    LineFeed = 10,
    CarriageReturn = 13,
    EscapeByte = 27,
    // Cursor-address bytes carry the position plus 32.
    AddressOffset = 32,
};

// The cell a printable byte becomes while graphics mode is on.
static Cell GraphicsCell(uint8_t byte) {
    switch (byte) {
        case 'a': return 0x2588;  // full block
        case 'h': return 0x2192;  // rightwards arrow
        case 'i': return 0x2026;  // horizontal ellipsis
        case 'k': return 0x2193;  // downwards arrow
        default: return byte;
    }
}

// The next tab stop from a column left of the last: every 8 up to 72, then
// every column.
static int TabStop(int column) { return column > 71 ? column + 1 : (column & ~7) + 8; }

static void PutPrintable(uint8_t byte) {
    Cell value = terminal.graphicsMode ? GraphicsCell(byte) : byte;
    screen.cells[terminal.row * ScreenColumns + terminal.column] = value;
    HideCursor();
    DrawRow(terminal.row);
    // No wrap: further bytes overwrite the last column.
    if (terminal.column < LastColumn) ++terminal.column;
}

static void InterpretNormal(uint8_t byte) {
    switch (byte) {
        case Backspace:
            if (terminal.column > 0) {
                HideCursor();
                --terminal.column;
                ShowCursor();
            }
            break;
        case HorizontalTab:
            if (terminal.column <= LastColumn - 1) {
                HideCursor();
                terminal.column = TabStop(terminal.column);
            }
            break;
        case LineFeed:
            if (terminal.row < LastRow) {
                HideCursor();
                ++terminal.row;
            } else {
                ScrollUp();
            }
            break;
        case CarriageReturn:
            HideCursor();
            terminal.column = 0;
            break;
        case EscapeByte: terminal.escapeState = EscapeState::Escape; break;
        default:
            if (byte >= 32 && byte <= 126) PutPrintable(byte);
            break;  // other controls and DEL are ignored
    }
}

static void QueueIdentifyReply() {
    // Only when nothing else is queued or being sent; never remembered.
    if (sendState != SendState::Idle || !outputQueue.IsEmpty()) return;
    static const uint8_t reply[3] = {EscapeByte, '/', 'K'};
    outputQueue.Fill(reply, 3);
}

static void InterpretEscape(uint8_t byte) {
    terminal.escapeState = EscapeState::Normal;
    switch (byte) {
        case 'A':  // cursor up
            if (terminal.row > 0) {
                HideCursor();
                --terminal.row;
            }
            break;
        case 'B':  // cursor down, never scrolls
            if (terminal.row < LastRow) {
                HideCursor();
                ++terminal.row;
            }
            break;
        case 'C':  // cursor right
            if (terminal.column < LastColumn) {
                HideCursor();
                ++terminal.column;
            }
            break;
        case 'D':  // cursor left
            if (terminal.column > 0) {
                HideCursor();
                --terminal.column;
            }
            break;
        case 'F':  // graphics on
            terminal.graphicsMode = true;
            break;
        case 'G':  // graphics off
            terminal.graphicsMode = false;
            break;
        case 'H':  // home
            HideCursor();
            terminal.row = 0;
            terminal.column = 0;
            break;
        case 'I':  // reverse line feed, scrolls down on row 0
            if (terminal.row > 0) {
                HideCursor();
                --terminal.row;
            } else {
                ScrollDown();
                RepaintAll();
            }
            break;
        case 'J':  // erase to end of screen
            EraseToEndOfScreen();
            break;
        case 'K':  // erase to end of line
            EraseToEndOfLine();
            break;
        case 'Y':  // direct cursor address: row byte, column byte follow
            terminal.escapeState = EscapeState::RowByte;
            break;
        case 'Z':  // identify
            QueueIdentifyReply();
            break;
        default:  // unknown: consumed
            break;
    }
}

static void MoveToAddress(uint8_t columnByte) {
    HideCursor();
    // A column beyond either edge clamps to it.
    if (columnByte < AddressOffset) {
        terminal.column = 0;
    } else if (columnByte - AddressOffset > LastColumn) {
        terminal.column = LastColumn;
    } else {
        terminal.column = columnByte - AddressOffset;
    }
    // A row outside the screen leaves the row as it is.
    if (terminal.pendingRow >= AddressOffset && terminal.pendingRow - AddressOffset <= unsigned(LastRow)) {
        terminal.row = int(terminal.pendingRow - AddressOffset);
    }
    terminal.escapeState = EscapeState::Normal;
    ShowCursor();
}

static bool Printable(uint8_t byte) { return byte >= 32 && byte <= 126; }

// How many bytes at the start of `bytes` are printable (bit 7 ignored),
// eight at a time.
static unsigned PrintableRun(const uint8_t* bytes, unsigned count) {
    unsigned n = 0;
    for (; n + 8 <= count; n += 8) {
        uint64_t seven = LoadWord(bytes + n) & ~ByteHighs;
        uint64_t found = BytesBelow(seven, 32) | BytesEqual(seven, 127);
        if (found != 0) return n + FirstMarked(found);
    }
    while (n < count && Printable(bytes[n] & 0x7F)) ++n;
    return n;
}

// Stores `count` printable bytes (bit 7 ignored) from `column` on in `row`,
// as the per-byte rule would: the bytes past the last column overwrite it,
// so only the run's last byte stays there.
static void StoreRun(Cell* row, int* column, const uint8_t* bytes, unsigned count, bool graphics) {
    unsigned room = unsigned(LastColumn - *column);
    unsigned direct = count < room ? count : room;
    Cell* at = row + *column;
    if (graphics) {
        for (unsigned k = 0; k < direct; ++k) at[k] = GraphicsCell(bytes[k] & 0x7F);
    } else {
        // Four bytes widened to four cells at a time: byte j of the word
        // read becomes cell j of the word written, in either byte order.
        unsigned k = 0;
        for (; k + 4 <= direct; k += 4) {
            uint32_t four;
            std::memcpy(&four, bytes + k, sizeof four);
            four &= 0x7F7F7F7Fu;
            uint64_t cells = (four & 0xFFu) | uint64_t((four >> 8) & 0xFFu) << 16 |
                             uint64_t((four >> 16) & 0xFFu) << 32 | uint64_t(four >> 24) << 48;
            std::memcpy(at + k, &cells, sizeof cells);
        }
        for (; k < direct; ++k) at[k] = Cell(bytes[k] & 0x7F);
    }
    *column += int(direct);
    if (count > direct) {
        uint8_t last = bytes[count - 1] & 0x7F;
        row[LastColumn] = graphics ? GraphicsCell(last) : last;
        *column = LastColumn;
    }
}

// Stores the printable run at the start of `bytes` (bit 7 ignored) and
// returns its length: the per-byte rule, with the cursor hidden once and the
// row drawn once for the whole run.
static unsigned PutPrintableRun(const uint8_t* bytes, unsigned count) {
    unsigned n = PrintableRun(bytes, count);
    int column = terminal.column;
    StoreRun(&screen.cells[terminal.row * ScreenColumns], &column, bytes, n, terminal.graphicsMode);
    HideCursor();
    terminal.column = column;
    DrawRow(terminal.row);
    return n;
}

// Lines scrolling in a flood: rather than moving the screen up a row at each
// line feed, the rows sit in a taller buffer and a window of 24 slides down
// it; the screen is copied back once at the end. Starts at a line feed on
// the bottom row in plain text state and takes what keeps the cursor on that
// row: text, carriage return, tab, backspace, ignored controls, line feeds,
// and the escapes that stay there (a cursor address on the bottom row, as a
// full-screen program writes its last line; erase to end of line, left,
// right, down, graphics on and off). Stops before any other escape, or one
// cut off by the block's end. Returns how many bytes it took (at least the
// first).
static const int TallRows = 128;
static Cell tall[TallRows * ScreenColumns];

// The escape at the start of `bytes` (ESC first) on the bottom row `bottom`:
// how many bytes it takes, or 0 when it leaves the row, queues a reply, or
// is not all there. `shown`: the cursor is inverted after it, as the
// per-byte rule leaves it.
static unsigned BottomRowEscape(const uint8_t* bytes, unsigned count, Cell* bottom, int* column,
                                bool* graphics, bool* shown) {
    if (count < 2) return 0;
    switch (bytes[1] & 0x7F) {
        case 'B': return 2;  // down: already on the last row
        case 'C':
            if (*column < LastColumn) {
                ++*column;
                *shown = false;
            }
            return 2;
        case 'D':
            if (*column > 0) {
                --*column;
                *shown = false;
            }
            return 2;
        case 'F': *graphics = true; return 2;
        case 'G': *graphics = false; return 2;
        case 'K':
            for (int c = *column; c < ScreenColumns; ++c) bottom[c] = BlankCell;
            *shown = false;
            return 2;
        case 'Y': {
            if (count < 4) return 0;
            unsigned rowByte = bytes[2] & 0x7F, columnByte = bytes[3] & 0x7F;
            // A row on the screen other than the last leaves this row.
            if (rowByte >= AddressOffset && rowByte - AddressOffset < unsigned(LastRow)) return 0;
            if (columnByte < AddressOffset) {
                *column = 0;
            } else if (columnByte - AddressOffset > unsigned(LastColumn)) {
                *column = LastColumn;
            } else {
                *column = int(columnByte - AddressOffset);
            }
            *shown = true;
            return 4;
        }
        default: return 0;
    }
}

static unsigned ScrollLines(const uint8_t* bytes, unsigned count, ScrolledOff keep, void* user) {
    std::memcpy(tall, screen.cells, sizeof screen.cells);
    int top = 0;  // the tall row shown as row 0
    Cell* bottom = &tall[LastRow * ScreenColumns];
    int column = terminal.column;
    bool graphics = terminal.graphicsMode;
    bool shown = false;  // the first line feed's repaint hides the cursor
    unsigned n = 0;
    while (n < count) {
        uint8_t byte = bytes[n] & 0x7F;
        if (Printable(byte)) {
            unsigned run = PrintableRun(bytes + n, count - n);
            StoreRun(bottom, &column, bytes + n, run, graphics);
            shown = false;
            n += run;
            continue;
        }
        if (byte == LineFeed) {
            if (keep != nullptr) keep(&tall[top * ScreenColumns], user);
            if (top + ScreenRows == TallRows) {  // the window reached the end: back to the start
                std::memmove(tall, &tall[top * ScreenColumns], sizeof screen.cells);
                top = 0;
            }
            ++top;
            bottom = &tall[(top + LastRow) * ScreenColumns];
            for (int c = 0; c < ScreenColumns; ++c) bottom[c] = BlankCell;
            shown = false;
        } else if (byte == CarriageReturn) {
            column = 0;
            shown = false;
        } else if (byte == HorizontalTab) {
            if (column <= LastColumn - 1) {
                column = TabStop(column);
                shown = false;
            }
        } else if (byte == Backspace) {
            if (column > 0) {
                --column;
                shown = true;
            }
        } else if (byte == EscapeByte) {
            unsigned taken = BottomRowEscape(bytes + n, count - n, bottom, &column, &graphics, &shown);
            if (taken == 0) break;
            n += taken;
            continue;
        }  // other controls and DEL are ignored
        ++n;
    }
    std::memcpy(screen.cells, &tall[top * ScreenColumns], sizeof screen.cells);
    terminal.column = column;
    terminal.graphicsMode = graphics;
    RepaintAll();  // as each scroll does; also hides the cursor
    if (shown) ShowCursor();
    return n;
}

unsigned InterpretBytes(const uint8_t* bytes, unsigned count, ScrolledOff keep, void* user) {
    unsigned i = 0;
    while (i < count) {
        uint8_t byte = bytes[i] & 0x7F;
        if (terminal.escapeState == EscapeState::Normal) {
            if (Printable(byte)) {
                i += PutPrintableRun(bytes + i, count - i);
                continue;
            }
            if (byte == LineFeed && terminal.row == LastRow) {
                i += ScrollLines(bytes + i, count - i, keep, user);
                continue;
            }
            if (byte == EscapeByte && count - i >= 4 && (bytes[i + 1] & 0x7F) == 'Y') {
                terminal.pendingRow = bytes[i + 2] & 0x7F;  // a whole cursor address at once
                MoveToAddress(bytes[i + 3] & 0x7F);
                i += 4;
                continue;
            }
        }
        InterpretByte(byte);
        ++i;
        if (!outputQueue.IsEmpty()) return i;
    }
    return i;
}

void InterpretByte(uint8_t byte) {
    byte &= 0x7F;
    switch (terminal.escapeState) {
        case EscapeState::Normal: InterpretNormal(byte); break;
        case EscapeState::Escape: InterpretEscape(byte); break;
        case EscapeState::RowByte:
            terminal.pendingRow = byte;
            terminal.escapeState = EscapeState::ColumnByte;
            break;
        case EscapeState::ColumnByte: MoveToAddress(byte); break;
    }
}
