// Hides ANSI control sequences the terminal has no meaning for (colour,
// erase-in-line, titles...), between the line and the interpreter. It drops
// whole:
//   CSI  ESC [ parameters (0x30-0x3F), intermediates (0x20-0x2F), a final
//        byte 0x40-0x7E, within AnsiCsiLimit bytes;
//   OSC  ESC ] text ... BEL or ESC \, within AnsiOscLimit bytes;
// and on an 8-bit line the same opened by 0x9B and 0x9D (and an OSC ended by
// 0x9C). Everything else passes unchanged: the terminal's own sequences
// (it follows the interpreter's escape state, so the row and column bytes
// of ESC Y are never taken for a sequence), 0x9B followed by one of the
// terminal's escape letters (ESC with bit 7 set, as a host echoes the
// terminal's keys), and a sequence that breaks off or runs too long, which
// goes on exactly as received.
// A byte at a time, with a fixed hold buffer: no allocation, any split
// across reads. Pure; the caller owns the record. Its state mid-stream can
// be taken over by another filter (a client attaching to a served line),
// which then goes on exactly where this one stands.
#ifndef BRISVANE_CONSOLE_ANSI_FILTER_H
#define BRISVANE_CONSOLE_ANSI_FILTER_H

#include <cstdint>

const unsigned AnsiCsiLimit = 64;
const unsigned AnsiOscLimit = 256;

struct AnsiFilter {
    enum class Stage : uint8_t { Ground, Escape, Csi, Osc, OscEscape };
    // The interpreter's escape state as the bytes passed on leave it.
    enum class Follow : uint8_t { Normal, Escape, RowByte, ColumnByte };

    bool hide = true;      // false: every byte passes (held ones first)
    bool eightBit = true;  // the line has 8 data bits: 0x9B, 0x9D, 0x9C count
    Stage stage = Stage::Ground;
    Follow follow = Follow::Normal;
    bool intermediates = false;  // a CSI's parameters are over
    unsigned heldCount = 0;
    uint64_t hidden = 0;  // sequences dropped so far
    uint8_t held[AnsiOscLimit];
};

// Room `out` needs beyond the input's length: what may be held from before.
const unsigned AnsiFilterSlack = AnsiOscLimit;

// Filters `count` bytes into `out` (room for count + AnsiFilterSlack) and
// returns how many were written. Bytes of an unfinished sequence stay held
// for the next call.
unsigned FilterAnsi(AnsiFilter& filter, const uint8_t* in, unsigned count, uint8_t* out);

// Takes over `from`'s place in the stream: its stage, the escape state it
// follows, its held bytes and the line's width; `hide` and the count stay
// this filter's own. False, with nothing changed, for a state no filter
// reaches (a held sequence that does not open as one, too long for its
// stage, or held while the interpreter waits for an argument byte).
bool AdoptAnsiState(AnsiFilter& filter, const AnsiFilter& from);

// The screen was reset: the interpreter waits for no escape byte now.
inline void AnsiScreenReset(AnsiFilter& filter) { filter.follow = AnsiFilter::Follow::Normal; }

#endif
