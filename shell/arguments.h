// Reading the command line: up to four double-quoted arguments.
#ifndef BRISVANE_SHELL_ARGUMENTS_H
#define BRISVANE_SHELL_ARGUMENTS_H

#include <cstddef>
#include <cstdint>

// Skips to the next double quote and copies what follows up to the closing
// quote (consumed) or the end of the text into `destination`, always
// terminated. Without a quote left, `destination` is empty and the cursor
// stays at the end. Text beyond capacity - 1 characters is skipped, not
// stored, and sets *truncated when that is given. Returns the new cursor.
const char* NextQuotedArgument(const char* cursor, char* destination, size_t capacity,
                               bool* truncated = nullptr);

// The longest pause after a text-send byte: the pause blocks the whole
// program, so anything longer would look like a hang.
const uint32_t MaxCharacterInterval = 10000;

// A decimal number of milliseconds, leading blanks allowed. Empty, letters
// or a minus sign give 0; values above MaxCharacterInterval (however large)
// give MaxCharacterInterval.
uint32_t CharacterIntervalFromText(const char* text);

#endif
