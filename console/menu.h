// The menu behind the prefix key: the Windows menu's letters, typed after
// the prefix. x exit, c clear, s then r/b/t/e for Send, r then r/t/e for
// Receive; the prefix twice sends the prefix byte itself. Any other key
// closes the menu and does nothing. Pure: it only names the command.
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
    SendRaw,
    SendBinary,
    SendText,
    SendEnd,
    ReceiveRaw,
    ReceiveText,
    ReceiveEnd,
};

extern MenuLevel menuLevel;

// Moves the menu on by one key and says what to do.
MenuCommand MenuKey(uint8_t prefixKey, const TranslatedKey& key);

// The status line's prompt for the open level ("" when closed).
const char* MenuPrompt();

#endif
