// What a key read from the user's terminal sends to the host: the shared key
// sequences for arrow, editing and keypad keys (Shift variants where the
// terminal reports them), and one byte for everything else, with Enter as
// CR, Backspace as 0x08 and Delete as 0x7F, as in the Windows program.
#ifndef BRISVANE_CONSOLE_KEYS_H
#define BRISVANE_CONSOLE_KEYS_H

#include <cstdint>

#include "link/key_sequences.h"

enum class KeyAction : uint8_t { Ignore, Byte, Sequence };

struct TranslatedKey {
    KeyAction action;
    uint8_t byte;     // for Byte
    TerminalKey key;  // for Sequence
    bool shifted;
};

// `code` is a curses key code when `isKeyCode`, else a character (a wide
// character in a UTF-8 locale). Characters beyond one byte are ignored.
TranslatedKey TranslateKey(int code, bool isKeyCode);

// Asks the terminal description for the keypad keys it reports only under
// extended names (keypad +, -, *, /, 0, ., and 8, 4, 6, 2), so TranslateKey
// knows their codes. Called once curses is running.
void LearnTerminalKeys();

#endif
