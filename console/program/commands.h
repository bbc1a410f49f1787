// The menu's commands, carried out on the console's state, and the table
// that names them (letters, words, needs-a-line): transfers, the screen, the
// history view, the help page, and the line's own controls (BREAK, DTR, RTS,
// modem lines, live settings, flow control: line_controls.h does them).
// What a command did or why it was refused is said in the console's notice.
#ifndef BRISVANE_CONSOLE_COMMANDS_H
#define BRISVANE_CONSOLE_COMMANDS_H

#include <cstdint>

#include "console/program/session.h"
#include "console/rules/menu.h"
#include "console/rules/reaction.h"

// Every menu command, in the order the menu line and the help page show them.
MenuTable CommandTable();

// Carries out what the menu made of a key; a command that needs the line
// is refused, with a word, while it is not open.
Reaction RunMenuStep(Session& console, const MenuStep& step, int64_t now);

// The prompt was answered (Accepted) for its purpose.
Reaction PromptAnswered(Session& console);

#endif
