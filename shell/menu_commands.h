// The menu's commands: start and end file sends and captures, clear the
// screen, exit.
#ifndef BRISVANE_SHELL_MENU_COMMANDS_H
#define BRISVANE_SHELL_MENU_COMMANDS_H

#include <windows.h>

// Runs the command with this identifier; unknown identifiers do nothing.
void OnCommand(unsigned commandId);

// Runs the open or save dialog in the home directory and opens the chosen
// file without sharing (a capture file is created or emptied). Returns
// INVALID_HANDLE_VALUE when cancelled or when the file cannot be opened,
// which last also shows "cannot open file".
HANDLE ChooseFile(bool forSaving);

#endif
