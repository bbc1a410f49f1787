#include "core/interpreter.h"

#include <cstring>

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

// Stores the printable run at the start of `bytes` (bit 7 ignored) and
// returns its length: the per-byte rule, with the cursor hidden once and the
// row drawn once for the whole run.
static unsigned PutPrintableRun(const uint8_t* bytes, unsigned count) {
    Cell* row = &screen.cells[terminal.row * ScreenColumns];
    int column = terminal.column;
    bool graphics = terminal.graphicsMode;
    unsigned n = 0;
    for (; n < count; ++n) {
        uint8_t byte = bytes[n] & 0x7F;
        if (byte < 32 || byte > 126) break;
        row[column] = graphics ? GraphicsCell(byte) : byte;
        if (column < LastColumn) ++column;
    }
    HideCursor();
    terminal.column = column;
    DrawRow(terminal.row);
    return n;
}

// Lines scrolling in a flood: rather than moving the screen up a row at each
// line feed, the rows sit in a taller buffer and a window of 24 slides down
// it; the screen is copied back once at the end. Starts at a line feed on
// the bottom row in plain text state and takes what keeps the cursor on that
// row (text, carriage return, tab, line feed, ignored controls), up to an
// ESC or backspace. Returns how many bytes it took (at least the first).
static const int TallRows = 128;
static Cell tall[TallRows * ScreenColumns];

static unsigned ScrollLines(const uint8_t* bytes, unsigned count, ScrolledOff keep, void* user) {
    std::memcpy(tall, screen.cells, sizeof screen.cells);
    int top = 0;  // the tall row shown as row 0
    Cell* bottom = &tall[LastRow * ScreenColumns];
    int column = terminal.column;
    bool graphics = terminal.graphicsMode;
    unsigned n = 0;
    for (; n < count; ++n) {
        uint8_t byte = bytes[n] & 0x7F;
        if (byte >= 32 && byte <= 126) {
            bottom[column] = graphics ? GraphicsCell(byte) : byte;
            if (column < LastColumn) ++column;
        } else if (byte == LineFeed) {
            if (keep != nullptr) keep(&tall[top * ScreenColumns], user);
            if (top + ScreenRows == TallRows) {  // the window reached the end: back to the start
                std::memmove(tall, &tall[top * ScreenColumns], sizeof screen.cells);
                top = 0;
            }
            ++top;
            bottom = &tall[(top + LastRow) * ScreenColumns];
            for (int c = 0; c < ScreenColumns; ++c) bottom[c] = BlankCell;
        } else if (byte == CarriageReturn) {
            column = 0;
        } else if (byte == HorizontalTab) {
            if (column <= LastColumn - 1) column = TabStop(column);
        } else if (byte == EscapeByte || byte == Backspace) {
            break;
        }  // other controls and DEL are ignored
    }
    std::memcpy(screen.cells, &tall[top * ScreenColumns], sizeof screen.cells);
    terminal.column = column;
    RepaintAll();  // as each scroll does; also hides the cursor
    return n;
}

unsigned InterpretBytes(const uint8_t* bytes, unsigned count, ScrolledOff keep, void* user) {
    unsigned i = 0;
    while (i < count) {
        uint8_t byte = bytes[i] & 0x7F;
        if (terminal.escapeState == EscapeState::Normal) {
            if (byte >= 32 && byte <= 126) {
                i += PutPrintableRun(bytes + i, count - i);
                continue;
            }
            if (byte == LineFeed && terminal.row == LastRow) {
                i += ScrollLines(bytes + i, count - i, keep, user);
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
