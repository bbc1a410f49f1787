// Line-end maps, chosen with --map (a comma list), the profile key "map" or
// the menu. Received: lf-crlf (a bare LF also returns the carriage), cr-crlf
// (a bare CR also feeds a line), ignore-cr. Sent, on typed keys and pastes:
// cr-crlf (Enter sends CR LF), del-bs, bs-del. cr-crlf names both
// directions; in- or out- before a name picks one. "none" (or nothing)
// turns every map off.
//
// Received maps work a block at a time into a buffer the caller owns (at
// most twice the block), comparing bytes with bit 7 ignored; a pair split
// across blocks is still seen. All pure; nothing allocates.
#ifndef BRISVANE_CONSOLE_LINE_MAPS_H
#define BRISVANE_CONSOLE_LINE_MAPS_H

#include <cstdint>

enum LineMap : uint8_t {
    MapInLfCrlf = 1,
    MapInCrCrlf = 2,
    MapInIgnoreCr = 4,
    MapOutCrCrlf = 8,
    MapOutDelBs = 16,
    MapOutBsDel = 32,
};
const uint8_t ReceivedMaps = MapInLfCrlf | MapInCrCrlf | MapInIgnoreCr;
const uint8_t SentMaps = MapOutCrCrlf | MapOutDelBs | MapOutBsDel;

// Reads "lf-crlf,del-bs" into map bits ("" and "none": none). Returns false
// with `fault` naming what is wrong, a list of only commas among it; `maps`
// is then unchanged.
bool ParseLineMaps(const char* text, uint8_t* maps, const char** fault);
// The maps as ParseLineMaps reads them back ("none" for none).
void FormatLineMaps(uint8_t maps, char* text, unsigned capacity);

// The received direction, with the one byte of history a CR LF pair needs.
struct ReceivedMap {
    bool afterReturn = false;  // the last byte given out was a CR
    // Maps `count` bytes into `out` (room for 2 * count); returns how many.
    unsigned Apply(uint8_t maps, const uint8_t* in, unsigned count, uint8_t* out);
};

// The sent direction for one byte before its bit-7 mark: 1 or 2 bytes.
unsigned MapSent(uint8_t maps, uint8_t byte, uint8_t out[2]);

#endif
