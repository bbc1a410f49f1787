#include "console/rules/text_rules.h"

#include <cstring>

#include "core/byte_words.h"

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

unsigned PastePlainRun(TextLineEnds& ends, const uint8_t* in, unsigned count, bool sevenBit, uint8_t* out,
                       unsigned* written) {
    const uint8_t Escape = 0x1B, Backspace = 0x08, Delete = 0x7F;
    uint8_t mark = sevenBit ? 0 : Bit7;
    uint8_t previous = ends.previous;
    unsigned n = 0, w = 0;
    while (n < count) {
        // Eight bytes with no line feed either go as they are, marked.
        if (count - n >= 8) {
            uint64_t word = LoadWord(in + n);
            uint64_t stops = (word & ByteHighs) | BytesEqual(word, Delete) | BytesEqual(word, Escape) |
                             BytesEqual(word, Backspace) | BytesEqual(word, LineFeed);
            // Or the bytes before the first that is not.
            unsigned plain = stops == 0 ? 8 : FirstMarked(stops);
            if (plain > 0) {
                uint64_t marked = word | ByteOnes * mark;
                std::memcpy(out + w, &marked, plain);
                previous = in[n + plain - 1];
                n += plain;
                w += plain;
                continue;
            }
        }
        uint8_t byte = in[n];
        if (byte >= Delete || byte == Escape || byte == Backspace) break;
        if (byte != LineFeed) {
            out[w++] = byte | mark;
        } else if ((previous & SevenBits) != CarriageReturn) {
            out[w++] = CarriageReturn | mark;  // a lone LF; after a CR it went already
        }
        previous = byte;
        ++n;
    }
    ends.previous = previous;
    *written = w;
    return n;
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
