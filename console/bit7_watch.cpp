#include "console/bit7_watch.h"

void KeysSent(Bit7Watch& w, const uint8_t* bytes, unsigned count, int64_t now) {
    if (w.noticed) return;
    for (unsigned i = 0; i < count; ++i) {
        if ((bytes[i] & 0x80) == 0) continue;
        w.sent[w.next] = bytes[i];
        w.next = (w.next + 1) % Bit7Watch::Remembered;
        w.sentAt = now;
        w.any = true;
    }
}

bool HostEchoesBit7(Bit7Watch& w, const uint8_t* bytes, unsigned count, int64_t now) {
    if (w.noticed || !w.any || now - w.sentAt > EchoWindowMilliseconds) return false;
    for (unsigned i = 0; i < count; ++i) {
        if ((bytes[i] & 0x80) == 0) continue;
        for (uint8_t key : w.sent) {
            if (key == bytes[i]) {
                w.noticed = true;
                return true;
            }
        }
    }
    return false;
}
