// The menu behind the prefix key, as one table: each entry is a letter at a
// level (the top, or the send or receive submenu), its words for the menu
// line and the help page, what it does, and whether it needs an open line.
// Everything that lists the commands (the menu line, the help page, the
// manual's list through a test) reads the table, so a letter lives in one
// place.
//
// MenuKey is pure: it moves the menu's level and names the entry; the
// commands module owns the table and carries entries out. The prefix twice
// sends the prefix byte itself; any key that names no entry closes the menu.
#ifndef BRISVANE_CONSOLE_MENU_H
#define BRISVANE_CONSOLE_MENU_H

#include <cstdint>

#include "console/rules/keys.h"
#include "console/rules/reaction.h"

enum class MenuLevel : uint8_t { Closed, Top, Send, Receive };

struct MenuEntry {
    MenuLevel level;    // where the letter is typed
    char letter;        // the other case works too, unless it has an entry of its own
    const char* words;  // short, for the menu line ("exit", "send"); null: not listed
    const char* help;   // the help page's line; null: not listed (1 stands for 1-9)
    // The command, run on the program's state (`user`); null: opens `opens`.
    Reaction (*run)(void* user, int64_t now);
    MenuLevel opens;
    bool needsLine;  // refused while the line is not open
};

struct MenuTable {
    const MenuEntry* entries;
    unsigned count;
};

enum class MenuStepKind : uint8_t {
    PassKey,     // not for the menu: the key goes to the host
    Opened,      // a menu level opened: show its line
    Cancelled,   // the menu closed without a command
    SendPrefix,  // the prefix twice: send the prefix byte
    Run,         // carry out `entry`
};

struct MenuStep {
    MenuStepKind kind;
    const MenuEntry* entry;  // for Run
};

// Moves the menu on by one key and says what to do.
MenuStep MenuKey(MenuLevel& level, uint8_t prefixKey, const TranslatedKey& key, const MenuTable& table);

// The status line for an open level: its entries as "x exit  c clear ...",
// as many as fit in `width` columns, and at the top level "? help" last,
// which always shows. Empty when the menu is closed.
void ComposeMenuLine(MenuLevel level, const MenuTable& table, int width, char* text, unsigned capacity);

// The help page: every entry with the keys that reach it ("Ctrl-A s r"),
// in one column, or two where one does not fit `rowCount` rows. Each row is
// written as text into rows[i] (`columns` wide at most, plus the end).
// Returns how many rows it used.
int ComposeHelpPage(const MenuTable& table, const char* prefixName, char* rows, int rowCount, int columns);

#endif
