// The menu behind the prefix key: letters typed after the prefix.
//   x exit   c clear   l redraw   h history
//   s then r/b/t/e: send raw, binary, text, end (also ends a paste)
//   r then r/t/e: capture raw, text, end
//   b BREAK   d DTR   t RTS   D pulse DTR (reset)   m modem lines
//   p line settings   f flow control
//   a ANSI sequences hidden or shown   7 keys with bit 7 clear or set
// The prefix twice sends the prefix byte itself. Any other key closes the
// menu and does nothing. Pure: it moves the menu's level and names the
// command; others carry it out.
#ifndef BRISVANE_CONSOLE_MENU_H
#define BRISVANE_CONSOLE_MENU_H

#include <cstdint>

#include "console/keys.h"

enum class MenuLevel : uint8_t { Closed, Top, Send, Receive };

enum class MenuCommand : uint8_t {
    PassKey,     // not for the menu: the key goes to the host
    Opened,      // a menu level opened: show its prompt
    Cancelled,   // the menu closed without a command
    SendPrefix,  // the prefix twice: send the prefix byte
    Exit,
    Clear,
    Redraw,
    History,
    SendRaw,
    SendBinary,
    SendText,
    SendEnd,
    ReceiveRaw,
    ReceiveText,
    ReceiveEnd,
    Break,
    ToggleDtr,
    ToggleRts,
    PulseDtr,
    ModemLines,
    LineSettings,
    ToggleFlow,
    ToggleAnsi,
    ToggleSevenBit,
};

// Moves the menu on by one key and says what to do.
MenuCommand MenuKey(MenuLevel& level, uint8_t prefixKey, const TranslatedKey& key);

// The status line's prompt for the open level ("" when closed).
const char* MenuPrompt(MenuLevel level);

#endif
