// The line's controls, one implementation each, used by the menu, scripts
// and (to come) attached clients alike: a BREAK (the loop ends it after
// BreakMilliseconds), DTR and RTS, a DTR pulse, and new controls (settings,
// flow control). Each keeps its guards: the line must be open, and RTS is
// RTS/CTS flow control's while that is on. DTR and RTS are stored once, in
// the console's controls (-1 there: as the driver left it, which is on).
//
// Given a notice, each says what it did or why not; without one it is
// silent and the result is all (a script's call).
#ifndef BRISVANE_CONSOLE_LINE_CONTROLS_H
#define BRISVANE_CONSOLE_LINE_CONTROLS_H

#include <cstdint>

#include "console/line/line.h"
#include "console/rules/notice.h"
#include "console/rules/reaction.h"

struct Session;

const int64_t BreakMilliseconds = 250;
const int64_t DtrPulseMilliseconds = 100;

// The line's answer in words: `done` when it did it, else why not `what`.
void SayControl(Notice& notice, ControlResult result, const char* done, const char* what);

ControlResult SendBreak(Session& console, int64_t now, Notice* notice);
ControlResult SetModemOutput(Session& console, ModemOutput which, bool on, Notice* notice);
// DTR off now, on again after DtrPulseMilliseconds.
ControlResult PulseDtr(Session& console, int64_t now, Notice* notice);
bool ModemOutputOn(const Session& console, ModemOutput which);
// Applies `controls` to the open line; they are in force only if it took them.
bool ApplyControls(Session& console, const LineControls& controls, Notice* notice);

// The timed ends: a BREAK to clear, DTR to raise again.
int64_t TimedControlsDue(const Session& console);
Reaction EndTimedControls(Session& console, int64_t now);

#endif
