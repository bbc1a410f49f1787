#include "core/interpreter.h"

#include "core/screen.h"
#include "core/output_queue.h"

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
        case HorizontalTab:  // stops every 8 up to 72, then every column
            if (terminal.column <= LastColumn - 1) {
                HideCursor();
                if (terminal.column > 71) {
                    ++terminal.column;
                } else {
                    terminal.column = (terminal.column & ~7) + 8;
                }
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
        case EscapeByte:
            terminal.escapeState = EscapeState::Escape;
            break;
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
    if (terminal.pendingRow >= AddressOffset &&
        terminal.pendingRow - AddressOffset <= unsigned(LastRow)) {
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

unsigned InterpretBytes(const uint8_t* bytes, unsigned count) {
    unsigned i = 0;
    while (i < count) {
        uint8_t byte = bytes[i] & 0x7F;
        if (terminal.escapeState == EscapeState::Normal) {
            if (byte >= 32 && byte <= 126) {
                i += PutPrintableRun(bytes + i, count - i);
                continue;
            }
            if (byte == LineFeed && terminal.row == LastRow) return i;
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
        case EscapeState::Normal:
            InterpretNormal(byte);
            break;
        case EscapeState::Escape:
            InterpretEscape(byte);
            break;
        case EscapeState::RowByte:
            terminal.pendingRow = byte;
            terminal.escapeState = EscapeState::ColumnByte;
            break;
        case EscapeState::ColumnByte:
            MoveToAddress(byte);
            break;
    }
}
