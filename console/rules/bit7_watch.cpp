#include "console/rules/bit7_watch.h"

namespace {
const uint8_t Bell = 7;
}

void KeysSent(Bit7Watch& w, const uint8_t* bytes, unsigned count, int64_t now) {
    if (w.noticed) return;
    for (unsigned i = 0; i < count; ++i) {
        if ((bytes[i] & 0x80) == 0) continue;
        if (!w.any || now - w.sentAt > EchoWindowMilliseconds) {  // keys after a pause: counted afresh
            w.anyPrintable = false;
            w.controls = w.bells = 0;
        }
        w.sent[w.next] = bytes[i];
        w.next = (w.next + 1) % Bit7Watch::Remembered;
        w.sentAt = now;
        w.any = true;
        w.printable = bytes[i] > 0xA0 && bytes[i] < 0xFF;
        w.anyPrintable = w.anyPrintable || w.printable;
        if (!w.printable) ++w.controls;
    }
}

bool HostEchoesBit7(Bit7Watch& w, const uint8_t* bytes, unsigned count, int64_t now) {
    if (w.noticed || !w.any || now - w.sentAt > EchoWindowMilliseconds) return false;
    for (unsigned i = 0; i < count; ++i) {
        bool answered = bytes[i] == Bell && w.printable;
        if (bytes[i] == Bell && !w.printable && w.anyPrintable) answered = ++w.bells > w.controls;
        if (!answered && (bytes[i] & 0x80) != 0) {
            for (uint8_t key : w.sent) answered = answered || key == bytes[i];
        }
        if (answered) {
            w.noticed = true;
            return true;
        }
    }
    return false;
}
