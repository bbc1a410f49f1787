#include "console/rules/text_rules.h"

uint8_t TextLineEnds::Next(uint8_t byte) {
    bool loneLineFeed = (byte & SevenBits) == LineFeed && (previous & SevenBits) != CarriageReturn;
    previous = byte;
    return loneLineFeed ? uint8_t((byte & Bit7) | CarriageReturn) : byte;
}

unsigned PastedByte(TextLineEnds& ends, uint8_t byte, bool sevenBit, uint8_t* out) {
    uint8_t next = ends.Next(byte);
    if ((next & SevenBits) == LineFeed) return 0;  // after a CR, which went already
    *out = Originated(next, sevenBit);
    return 1;
}

unsigned UnixLineEnds::Next(uint8_t byte, uint8_t out[2]) {
    unsigned count = 0;
    if (byte == LineFeed) {
        heldReturn = false;  // CR LF: the CR goes
        out[count++] = LineFeed;
        return count;
    }
    if (heldReturn) out[count++] = CarriageReturn;
    heldReturn = byte == CarriageReturn;
    if (!heldReturn) out[count++] = byte;
    return count;
}

unsigned UnixLineEnds::Finish(uint8_t out[1]) {
    if (!heldReturn) return 0;
    heldReturn = false;
    out[0] = CarriageReturn;
    return 1;
}
