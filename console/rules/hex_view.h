// The hex view's rows and the hex input's parsing. A row is the offset of
// its first byte since the view was turned on, 16 bytes in hex (a wider gap
// after the eighth), then the bytes as characters, '.' for any that is not
// printable ASCII:
//   "00000010  48 65 6c 6c 6f 0d 0a 00  ff 41 ...     Hello...A"
// A row not yet full is padded, so the characters keep their column as it
// fills. All pure; the dump's row lives in the record.
#ifndef BRISVANE_CONSOLE_HEX_VIEW_H
#define BRISVANE_CONSOLE_HEX_VIEW_H

#include <cstdint>

const unsigned HexRowBytes = 16;
const unsigned HexRowCapacity = 96;  // a row's text and its end

struct HexDump {
    uint64_t offset = 0;  // of the row's first byte
    uint8_t row[HexRowBytes];
    unsigned filled = 0;
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

// The row so far as text; returns its length.
unsigned FormatHexRow(const HexDump& dump, char* text, unsigned capacity);

// Reads hex byte pairs ("1b 5b 41", "1B5B41", "0x1b,0x5b") into `bytes`.
// Spaces, commas and 0x prefixes separate; a pair may not be split. Returns
// the number of bytes, or -1 with `fault` saying what is wrong.
int ParseHexBytes(const char* text, uint8_t* bytes, unsigned capacity, const char** fault);

#endif
