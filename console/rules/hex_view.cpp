#include "console/rules/hex_view.h"

#include <cstdio>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

unsigned FormatHexRow(const HexDump& dump, char* text, unsigned capacity) {
    static const char Digits[] = "0123456789abcdef";
    char row[HexRowCapacity];
    int n = std::snprintf(row, sizeof row, "%08llx  ", (unsigned long long)dump.offset);
    unsigned used = n > 0 ? unsigned(n) : 0;
    for (unsigned i = 0; i < HexRowBytes; ++i) {
        if (i == 8) row[used++] = ' ';
        bool have = i < dump.filled;
        row[used++] = have ? Digits[dump.row[i] >> 4] : ' ';
        row[used++] = have ? Digits[dump.row[i] & 15] : ' ';
        row[used++] = ' ';
    }
    row[used++] = ' ';
    for (unsigned i = 0; i < dump.filled; ++i) {
        uint8_t byte = dump.row[i];
        row[used++] = byte >= 0x20 && byte < 0x7F ? char(byte) : '.';
    }
    row[used] = '\0';
    return unsigned(std::snprintf(text, capacity, "%s", row)) < capacity ? used : capacity - 1;
}

int ParseHexBytes(const char* text, uint8_t* bytes, unsigned capacity, const char** fault) {
    unsigned count = 0;
    const char* at = text;
    while (*at != '\0') {
        if (*at == ' ' || *at == ',') {
            ++at;
            continue;
        }
        if (at[0] == '0' && (at[1] == 'x' || at[1] == 'X')) at += 2;
        int high = HexDigit(at[0]);
        int low = high < 0 ? -1 : HexDigit(at[1]);
        if (high < 0 || low < 0) {
            *fault = "type hex byte pairs such as 1b 5b 41";
            return -1;
        }
        if (count == capacity) {
            *fault = "too many bytes at once";
            return -1;
        }
        bytes[count++] = uint8_t(high * 16 + low);
        at += 2;
    }
    return int(count);
}
