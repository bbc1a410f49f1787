// Reading the command line: up to four double-quoted arguments. The
// interval text is read by the shared settings notation.
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

#endif
