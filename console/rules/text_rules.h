// The Unix program's byte rules beside the shared transfer rules:
// - a byte the terminal originates (keys, the identify reply, text sends)
//   goes out with bit 7 set, or with it clear under --seven-bit;
// - a text send, from a file or a paste, ends lines as Unix files do: a
//   line feed that does not follow a carriage return goes out as one; a CR LF
//   pair still sends one CR (the shared rule drops the LF);
// - text captures and text logs are written with Unix line ends: CR LF
//   becomes LF, a lone CR is kept.
// All pure; the small records carry one byte of history across blocks.
#ifndef BRISVANE_CONSOLE_TEXT_RULES_H
#define BRISVANE_CONSOLE_TEXT_RULES_H

#include <cstdint>

enum : uint8_t { CarriageReturn = 13, LineFeed = 10, SevenBits = 0x7F, Bit7 = 0x80 };

inline uint8_t Originated(uint8_t byte, bool sevenBit) {
    return sevenBit ? uint8_t(byte & SevenBits) : uint8_t(byte | Bit7);
}

// Line ends of a text being sent. Bit 7 of the text's bytes is ignored.
struct TextLineEnds {
    uint8_t previous = 0;
    // The byte the shared text rule gets for `byte`: a lone LF becomes CR.
    uint8_t Next(uint8_t byte);
};

// One byte of a paste as it goes on the line: 0 bytes (the LF of a CR LF)
// or 1, marked as originated.
unsigned PastedByte(TextLineEnds& ends, uint8_t byte, bool sevenBit, uint8_t* out);

// The leading run of a paste that is plain ASCII (below 0x7F, but ESC, which
// may begin the paste's end, and BS), as PastedByte gives it byte by byte:
// for a paste with no sent maps and no character begun. Writes onto `out`
// (room for `count`) and sets `*written`; returns how many bytes it took.
unsigned PastePlainRun(TextLineEnds& ends, const uint8_t* in, unsigned count, bool sevenBit, uint8_t* out,
                       unsigned* written);

// Unix line ends for what a text capture or a text log writes.
struct UnixLineEnds {
    bool heldReturn = false;  // a CR waits to see whether LF follows
    // The bytes to write for a received 7-bit `byte`: 0, 1 or 2 into `out`.
    unsigned Next(uint8_t byte, uint8_t out[2]);
    // At the end of the file: the CR still held, if any (0 or 1 byte).
    unsigned Finish(uint8_t out[1]);
};

#endif
