// Coverage-guided search for a client's or server's bytes that break the
// served line's wire: a crash, a read or write outside a buffer, a decoder
// that holds more than one message, or a snapshot that leaves the cursor off
// the screen. The bytes are fed in pieces whose sizes the input's first
// byte sets, and every message is handed to its reader and, for snapshot
// messages, restored; an ANSI filter state taken from one then filters the
// message's own bytes, as the stream after it would be.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "console/rules/history.h"
#include "console/rules/snapshot.h"
#include "console/rules/wire.h"
#include "core/screen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static WireDecoder decoder;
    static History history;
    static bool ready = history.Allocate(64);
    if (!ready || size == 0) return 0;
    decoder.Reset();
    ResetScreen();
    SnapshotRestore restore;
    static AnsiFilter ansi;
    static ReceivedMap map;
    ansi = AnsiFilter();
    static uint8_t shown[WireMaxPayload + AnsiFilterSlack];
    unsigned piece = 1 + data[0] % 97;
    for (size_t at = 1; at < size;) {
        unsigned n = size - at < piece ? unsigned(size - at) : piece;
        at += decoder.Feed(data + at, n);
        if (decoder.Pending() > WireMaxMessage) abort();
        WireMessage m;
        const char* problem;
        WireStatus status;
        while ((status = decoder.Next(&m, &problem)) == WireStatus::Message) {
            if (m.length > WirePayloadLimit(uint8_t(m.type))) abort();
            static WireHello hello;
            static WireRoster roster;
            WireWelcome welcome;
            WireText text;
            WireControlMessage control;
            WireRoleChange change;
            WireControl which;
            uint8_t result;
            ReadHello(m, &hello);
            ReadWelcome(m, &welcome);
            ReadText(m, &text);
            ReadControl(m, &control);
            ReadControlDone(m, &which, &result);
            ReadRoster(m, &roster);
            ReadRoleChange(m, &change);
            if (RestoreSnapshot(restore, m, history, {&ansi, &map}) && m.type == WireType::Chain &&
                FilterAnsi(ansi, m.payload, m.length, shown) > m.length + AnsiFilterSlack) {
                abort();
            }
            if (terminal.row < 0 || terminal.row > LastRow || terminal.column < 0 ||
                terminal.column > LastColumn)
                abort();
        }
        if (status == WireStatus::Error) return 0;
    }
    return 0;
}
