// The Unix program's receive rule, a block at a time. Every byte goes to
// the raw log. Then, as the shared rule has it, a raw capture takes the
// bytes untouched and nothing is shown (the text log takes them too);
// otherwise the ANSI filter takes out the sequences it hides, and of what
// is left the text log takes each byte, bit 7 is cleared, a text capture
// takes the byte (with Unix line ends here), and the interpreter shows it. A line feed on the bottom row scrolls the top row away: it goes
// into the history first. An identify reply the interpreter queues goes to
// the output pump at once, so every request in a block is answered. A
// running script gets the text as shown.
//
// The engineer's tools act here too: received line-end maps change what the
// text log, a text capture and the screen get (the raw log and a raw
// capture keep the bytes as received), and then the ANSI filter hides what
// the terminal has no use for; the hex view shows the received bytes as hex
// rows instead of interpreting them; local echo shows what is sent as if the
// host had echoed it.
#ifndef BRISVANE_CONSOLE_RECEIVE_H
#define BRISVANE_CONSOLE_RECEIVE_H

#include <cstdint>
#include <ctime>

#include "console/ansi_filter.h"
#include "console/counters.h"
#include "console/hex_view.h"
#include "console/history.h"
#include "console/line_maps.h"
#include "console/log.h"
#include "console/marks.h"
#include "console/output_pump.h"
#include "console/script_text.h"
#include "console/text_rules.h"

// Blocks larger than this are taken a part at a time.
const unsigned MapBlockSize = 16384;

// How what arrives is shown, with the state its rules carry across blocks.
struct ReceiveStyle {
    uint8_t maps = 0;  // LineMap bits
    bool hex = false;
    bool echo = false;
    ReceivedMap map, echoMap;
    HexDump dump;
    uint8_t mapped[2 * MapBlockSize];
    uint8_t shown[2 * MapBlockSize + AnsiFilterSlack];  // after the ANSI filter
};

struct ReceiveTargets {
    History& history;
    ReceiveLog& log;
    OutputPump& pump;
    UnixLineEnds& captureLineEnds;
    bool sevenBit;
    ReceiveStyle& style;
    Counters& counters;      // an identify reply with no room is counted as dropped
    ScriptText* scriptText;  // what a running script's expect() sees, or null
    AnsiFilter& ansi;
    Marks* marks = nullptr;  // boot timers looking at the text, or null
};

void ReceiveBlock(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
                  const struct timespec& arrived);

// Shows bytes being sent, under local echo: through the received maps
// with a CR also feeding a line, as a host's echo does, or as hex rows.
void EchoSent(ReceiveTargets& targets, const uint8_t* bytes, unsigned count);

// Turns the hex view on or off: each starts on a fresh row.
void SetHexView(ReceiveTargets& targets, bool on);

#endif
