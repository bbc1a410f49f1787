#include "shell/arguments.h"

const char* NextQuotedArgument(const char* cursor, char* destination, size_t capacity, bool* truncated) {
    size_t length = 0;
    while (*cursor != '\0' && *cursor != '"') ++cursor;
    if (*cursor == '"') {
        ++cursor;
        for (; *cursor != '\0' && *cursor != '"'; ++cursor) {
            if (length + 1 < capacity) {
                destination[length++] = *cursor;
            } else if (truncated != nullptr) {
                *truncated = true;
            }
        }
        if (*cursor == '"') ++cursor;
    }
    if (capacity > 0) destination[length] = '\0';
    return cursor;
}
