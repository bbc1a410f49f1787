// A key as this terminal knows it: one of the shared key sequences (arrow,
// editing and keypad keys, Shift variants where the terminal reports them),
// one byte (Enter as CR, Backspace as 0x08, Delete as 0x7F, as in the Windows
// program), the start or end of a bracketed paste, or Foreign: a key it has
// no counterpart for, which sends nothing. What the user's terminal reports
// is translated into these by console/screen/terminal_keys.h.
#ifndef BRISVANE_CONSOLE_KEYS_H
#define BRISVANE_CONSOLE_KEYS_H

#include <cstdint>

#include "link/key_sequences.h"

// The Escape key as curses hands it over: prompts and questions cancel on it.
const int EscapeKey = 27;

enum class KeyAction : uint8_t { Ignore, Byte, Sequence, PasteStart, PasteEnd, Foreign };

struct TranslatedKey {
    KeyAction action;
    uint8_t byte;     // for Byte
    TerminalKey key;  // for Sequence
    bool shifted;
};

// The bytes a translated Byte or Sequence key queues (1..3), before bit 7.
unsigned KeyBytes(const TranslatedKey& key, uint8_t bytes[3]);

#endif
