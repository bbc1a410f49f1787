// What the command line sets for the whole run. The character interval is
// kept with the transfer rules, which use it.
#ifndef BRISVANE_SHELL_SESSION_H
#define BRISVANE_SHELL_SESSION_H

struct SessionSettings {
    char portDefinition[260];  // device, colon, line settings
    char homeDirectory[260];   // where the file dialogs open
    char fontFace[260];        // replaces "Courier New" when not empty
};

extern SessionSettings session;

#endif
