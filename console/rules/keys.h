// What a key read from the user's terminal means: the shared key sequences
// for arrow, editing and keypad keys (Shift variants where the terminal
// reports them), one byte for everything else (Enter as CR, Backspace as
// 0x08, Delete as 0x7F, as in the Windows program), and the start and end of
// a bracketed paste. F1-F3 send PF1-PF3, the bytes of keypad /, * and -.
// A key the terminal has no counterpart for (F4 and up, Shift-Tab, a
// character beyond one byte) is Foreign: the user is told, nothing is sent.
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

// The codes curses gives this terminal's keypad keys, learned once.
struct KeyCodes {
    static const unsigned KeypadCount = 15;
    int keypad[KeypadCount];  // 0: this terminal has no such key
};

// `code` is a curses key code when `isKeyCode`, else a character (a wide
// character in a UTF-8 locale). Characters beyond one byte are ignored.
TranslatedKey TranslateKey(const KeyCodes& codes, int code, bool isKeyCode);

// A Foreign key's name for the user: "F10", "Shift-Tab", "U+20AC".
void ForeignKeyName(int code, bool isKeyCode, char* text, unsigned capacity);

// The bytes a translated Byte or Sequence key queues (1..3), before bit 7.
unsigned KeyBytes(const TranslatedKey& key, uint8_t bytes[3]);

// Asks the terminal description for the keypad keys it reports only under
// extended names (keypad +, -, *, /, 0, ., and 8, 4, 6, 2), and defines
// codes for those it leaves out and for the paste brackets. Called once
// curses is running.
void LearnTerminalKeys(KeyCodes* codes);

#endif
