// The Unix program's receive rule, a block at a time. Every byte goes to
// the raw log. Then, as the shared rule has it, a raw capture takes the
// bytes untouched and nothing is shown (the text log takes them too);
// otherwise the ANSI filter takes out the sequences it hides, and of what
// is left the text log takes each byte, bit 7 is cleared, a text capture
// takes the byte (with Unix line ends here), and the interpreter shows it. A line feed on the bottom row scrolls the top row away: it goes
// into the history first. An identify reply the interpreter queues goes to
// the output pump at once, so every request in a block is answered. A
// running script gets the text as shown.
#ifndef BRISVANE_CONSOLE_RECEIVE_H
#define BRISVANE_CONSOLE_RECEIVE_H

#include <cstdint>
#include <ctime>

#include "console/ansi_filter.h"
#include "console/history.h"
#include "console/log.h"
#include "console/output_pump.h"
#include "console/script_text.h"
#include "console/text_rules.h"

struct ReceiveTargets {
    History& history;
    ReceiveLog& log;
    OutputPump& pump;
    UnixLineEnds& captureLineEnds;
    bool sevenBit;
    ScriptText* scriptText;  // what a running script's expect() sees, or null
    AnsiFilter& ansi;
};

void ReceiveBlock(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
                  const struct timespec& arrived);

#endif
