// The hex view's rows and the hex input's parsing. A row is the offset of
// its first byte since the view was turned on, 16 bytes in hex (a wider gap
// after the eighth), then the bytes as characters, '.' for any that is not
// printable ASCII:
//   "00000010  48 65 6c 6c 6f 0d 0a 00  ff 41 ...     Hello...A"
// A row not yet full is padded, so the characters keep their column as it
// fills. With --timestamp-gap, the first block and each block after a
// pause longer than the gap start a new row under a stamp line:
//   "-- 14:03:12.345 (+1.250 s) --"
// All pure; the dump's row lives in the record.
#ifndef BRISVANE_CONSOLE_HEX_VIEW_H
#define BRISVANE_CONSOLE_HEX_VIEW_H

#include <cstdint>
#include <ctime>

const unsigned HexRowBytes = 16;
const unsigned HexRowCapacity = 96;  // a row's text and its end

struct HexDump {
    uint64_t offset = 0;  // of the row's first byte
    uint8_t row[HexRowBytes];
    unsigned filled = 0;
    uint32_t gapMilliseconds = 0;  // 0: no stamps
    bool seen = false;             // a block arrived since the view began
    struct timespec last = {};     // when the last block arrived
    // Adds a byte; true when the row is now full (format it, then NextRow).
    bool Add(uint8_t byte) {
        row[filled++] = byte;
        return filled == HexRowBytes;
    }
    void NextRow() {
        offset += filled;
        filled = 0;
    }
};

// A block arriving at `at`: the stamp line's text (without its end) when a
// new stamped row is due, and its length; 0 when the block goes on the row.
unsigned HexGapStamp(HexDump& dump, const struct timespec& at, char* text, unsigned capacity);

// The row so far as text; returns its length.
unsigned FormatHexRow(const HexDump& dump, char* text, unsigned capacity);

// Reads hex byte pairs ("1b 5b 41", "1B5B41", "0x1b,0x5b") into `bytes`.
// Spaces, commas and 0x prefixes separate; a pair may not be split. Returns
// the number of bytes, or -1 with `fault` saying what is wrong.
int ParseHexBytes(const char* text, uint8_t* bytes, unsigned capacity, const char** fault);

// The value of a hex digit, either case; -1 for anything else.
int HexDigit(char c);

#endif
