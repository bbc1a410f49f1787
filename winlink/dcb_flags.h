// The serial line's flag word: hardware flow control on (CTS out, RTS
// handshake, DTR enabled), DSR flow, XON/XOFF, error and null handling off,
// parity checking on exactly when a parity is set. Binary mode and
// "continue on XOFF" keep whatever the driver reported.
#ifndef BRISVANE_WINLINK_DCB_FLAGS_H
#define BRISVANE_WINLINK_DCB_FLAGS_H

#include <cstdint>

// `flags` is the DCB's 32-bit flag word as read back from the driver.
inline uint32_t LineFlagWord(uint32_t flags, bool parityInUse) {
    return (flags & 0xFFFFA095u) | (parityInUse ? 0x2016u : 0x2014u);
}

#endif
