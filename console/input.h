// A key from the user's terminal, taken in this order: the prompt or the
// overwrite question when one waits; a paste between its brackets; the
// history view's keys while it is open; the menu; and otherwise the host.
// A key also ends a message that waits for one.
#ifndef BRISVANE_CONSOLE_INPUT_H
#define BRISVANE_CONSOLE_INPUT_H

#include <cstdint>

#include "console/console.h"
#include "console/reaction.h"

// `code` as curses gave it: a key code when `isKeyCode`, else a character.
Reaction HandleKey(Console& console, int code, bool isKeyCode, int64_t now);

#endif
