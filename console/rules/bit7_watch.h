// Notices a host that takes the bit 7 the terminal sets on its keys for
// part of the byte (bash's line editing does, on an 8-bit line): such a
// host echoes those bytes back with bit 7 still set, where one that
// ignores the bit echoes 7-bit bytes; or, taking them for Meta keys it has
// no use for, it rings the bell at a printable one. Only the last few keys
// are kept, and an answer counts only within EchoWindowMilliseconds of
// them. A bell that comes after a control key (Enter typed straight after
// the word) counts once there are more bells than control keys: a host
// that ignores bit 7 rings at most one for each. It speaks once.
// Pure: the caller gives the time and says the message.
#ifndef BRISVANE_CONSOLE_BIT7_WATCH_H
#define BRISVANE_CONSOLE_BIT7_WATCH_H

#include <cstdint>

const int64_t EchoWindowMilliseconds = 2000;

struct Bit7Watch {
    static const unsigned Remembered = 8;
    uint8_t sent[Remembered] = {};  // the last bytes sent with bit 7 set
    unsigned next = 0;
    int64_t sentAt = 0;
    bool any = false;
    bool printable = false;  // the last of them is a printable character's
    // Since the keys began (the first after a pause of the window):
    bool anyPrintable = false;
    unsigned controls = 0;  // keys with bit 7 that are not printable characters
    unsigned bells = 0;     // bells that came after one of those
    bool noticed = false;
};

// `count` key bytes went on the line at `now`, as written (bit 7 included).
void KeysSent(Bit7Watch& watch, const uint8_t* bytes, unsigned count, int64_t now);

// A block arrived at `now`: true, once, when it holds the echo of a key
// byte sent with bit 7 set, or a bell after a printable one.
bool HostEchoesBit7(Bit7Watch& watch, const uint8_t* bytes, unsigned count, int64_t now);

#endif
