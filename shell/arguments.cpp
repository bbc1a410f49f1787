#include "shell/arguments.h"

#include <cerrno>
#include <cstdlib>

const char* NextQuotedArgument(const char* cursor, char* destination, size_t capacity,
                               bool* truncated) {
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

uint32_t CharacterIntervalFromText(const char* text) {
    const char* start = text;
    while (*start == ' ' || *start == '\t' || (*start >= '\n' && *start <= '\r')) ++start;
    if (*start == '-') return 0;  // would wrap to a pause of weeks
    errno = 0;
    unsigned long value = std::strtoul(start, nullptr, 10);
    if (errno == ERANGE || value > MaxCharacterInterval) return MaxCharacterInterval;
    return uint32_t(value);
}
