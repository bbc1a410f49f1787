// The running session of the Unix front end: the line's state, what the
// status line says, and the commands the menu gives.
#ifndef BRISVANE_CONSOLE_SESSION_H
#define BRISVANE_CONSOLE_SESSION_H

#include <cstdint>

#include "console/menu.h"

struct ConsoleSession {
    int line;           // the device, -1 while disconnected
    bool quit;          // leave the loop
    int exitCode;
    char message[160];  // shown on the status line until the next key
};

extern ConsoleSession session;

// Carries out a menu command other than PassKey.
void RunMenuCommand(MenuCommand command);

// Puts a message on the status line.
void ShowMessage(const char* text);

#endif
