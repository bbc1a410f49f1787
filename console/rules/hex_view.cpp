#include "console/rules/hex_view.h"

#include <cstdio>

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

unsigned HexGapStamp(HexDump& dump, const struct timespec& at, char* text, unsigned capacity) {
    int64_t pause =
        (int64_t(at.tv_sec) - dump.last.tv_sec) * 1000 + (at.tv_nsec - dump.last.tv_nsec) / 1000000;
    bool first = !dump.seen;
    dump.seen = true;
    dump.last = at;
    if (!first && pause <= int64_t(dump.gapMilliseconds)) return 0;
    struct tm local;
    localtime_r(&at.tv_sec, &local);
    char clock[16];
    strftime(clock, sizeof clock, "%H:%M:%S", &local);
    int n = first ? std::snprintf(text, capacity, "-- %s.%03ld --", clock, at.tv_nsec / 1000000)
                  : std::snprintf(text, capacity, "-- %s.%03ld (+%lld.%03lld s) --", clock,
                                  at.tv_nsec / 1000000, (long long)(pause / 1000), (long long)(pause % 1000));
    return n < 0 ? 0 : unsigned(n) < capacity ? unsigned(n) : capacity - 1;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
