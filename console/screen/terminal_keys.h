// What a key read from the user's terminal through curses means (see
// console/rules/keys.h): arrow, editing and keypad keys as their sequences,
// Enter, Backspace and Delete as their bytes, the paste brackets. F1-F3 send
// PF1-PF3, the bytes of keypad /, * and -. A key the terminal has no
// counterpart for (F4 and up, Shift-Tab, a character beyond one byte) is
// Foreign: the user is told, nothing is sent.
#ifndef BRISVANE_CONSOLE_TERMINAL_KEYS_H
#define BRISVANE_CONSOLE_TERMINAL_KEYS_H

#include "console/rules/keys.h"

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

// Asks the terminal description for the keypad keys it reports only under
// extended names (keypad +, -, *, /, 0, ., and 8, 4, 6, 2), and defines
// codes for those it leaves out and for the paste brackets. Called once
// curses is running.
void LearnTerminalKeys(KeyCodes* codes);

#endif
