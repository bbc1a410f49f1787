// The command line of the Unix front end:
//   brisvane DEVICE [SETTINGS] [--home DIR] [--interval MS] [--prefix KEY]
//            [--flow rtscts|none] [--no-reconnect]
//   brisvane --list | --help | --version
// Reading it is pure: no file is touched, nothing is printed.
#ifndef BRISVANE_CONSOLE_OPTIONS_H
#define BRISVANE_CONSOLE_OPTIONS_H

#include <cstdint>

#include "link/settings_notation.h"

enum class ProgramAction : uint8_t { Run, Help, Version, List };

const unsigned PathCapacity = 1024;

struct ConsoleOptions {
    ProgramAction action;
    char device[PathCapacity];
    char settingsText[64];  // as written, for the status line
    LineSettings line;
    char homeDirectory[PathCapacity];  // empty: the current folder
    uint32_t characterInterval;
    uint8_t prefixKey;  // the byte that opens the menu
    bool hardwareFlow;  // RTS/CTS
    bool reconnect;
    bool sevenBit;  // originated bytes go out with bit 7 clear
};

extern ConsoleOptions options;

// Fills *result from argv. Returns false on a usage error and writes a
// one-line description (without the program name) into `problem`.
bool ParseOptions(int argc, const char* const* argv, ConsoleOptions* result, char* problem,
                  unsigned problemCapacity);

// Reads a key name: "^A", "C-a", "ctrl-a" or "Ctrl+A" for a control key, or
// a single character. Returns false when it names no single byte.
bool ParsePrefixKey(const char* text, uint8_t* key);

// "Ctrl-A" for 1, and the character itself otherwise.
void FormatPrefixKey(uint8_t key, char* text, unsigned capacity);

#endif
