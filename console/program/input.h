// A key from the user's terminal, taken in this order: the prompt or the
// overwrite question when one waits; a paste between its brackets; the
// history view's keys while it is open; the menu; and otherwise the host.
// A key also ends a message that waits for one.
#ifndef BRISVANE_CONSOLE_INPUT_H
#define BRISVANE_CONSOLE_INPUT_H

#include <cstdint>

#include "console/program/session.h"
#include "console/rules/reaction.h"

// `code` as curses gave it: a key code when `isKeyCode`, else a character.
Reaction HandleKey(Session& console, int code, bool isKeyCode, int64_t now);

// The bytes of a paste read straight from the terminal (curses takes one
// byte per call: too slow for megabytes): decoded as curses would (UTF-8 in
// a UTF-8 locale; characters past 0xFF dropped) and sent, up to the end
// bracket, which may come split across calls and ends the paste. Inside a
// paste every byte is text, escape sequences included. Returns how many of
// `count` bytes it took: the rest came after the end bracket, for curses.
unsigned PasteText(Session& console, const uint8_t* bytes, unsigned count);

#endif
