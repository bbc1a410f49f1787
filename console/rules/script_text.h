// The text a script's expect() looks at: what the host sent since the last
// match, as the screen shows it. Bit 7 is cleared, an escape sequence's own
// bytes (ESC and the bytes the interpreter takes with it) are left out, so
// "ESC[01;31m" reads "01;31m" as on the screen, and of the control bytes
// only CR, LF and Tab stay. A fixed ring made with the console: when it is
// full the oldest text goes, so a script that never matches costs nothing.
#ifndef BRISVANE_CONSOLE_SCRIPT_TEXT_H
#define BRISVANE_CONSOLE_SCRIPT_TEXT_H

#include <cstdint>
#include <string>

#include "core/screen.h"

const unsigned ScriptTextCapacity = 65536;

struct ScriptText {
    uint8_t bytes[ScriptTextCapacity];
    unsigned head = 0;  // the oldest byte
    unsigned count = 0;
    uint64_t added = 0;      // bytes taken ever: a waiting expect looks again when it grew
    bool listening = false;  // a script runs: the receive chain feeds the ring
};

// A byte about to be shown; `inSequence` says the interpreter is inside an
// escape sequence (it takes the byte as part of it).
void TakeShown(ScriptText& text, uint8_t byte, bool inSequence);

// A block about to be shown, the interpreter in escape state `state` before
// its first byte: takes what TakeShown would, byte by byte, following the
// interpreter's escape state through the block as it will go.
void TakeShownBlock(ScriptText& text, const uint8_t* bytes, unsigned count, EscapeState state);

// The text as at most two runs, oldest first (`second` may be empty).
void TextRuns(const ScriptText& text, const uint8_t** first, unsigned* firstCount, const uint8_t** second,
              unsigned* secondCount);

// Drops the oldest `count` bytes (up to the end of a match).
void ConsumeText(ScriptText& text, unsigned count);

void ClearText(ScriptText& text);

// The text taken since `added` was `since`, oldest first, matched or not:
// the ring still holds the last ScriptTextCapacity bytes taken, whatever
// was consumed. *lost says how many older ones are gone.
std::string TextSince(const ScriptText& text, uint64_t since, uint64_t* lost);

#endif
