#include "console/options.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

ConsoleOptions options;

static bool CopyText(const char* text, char* destination, unsigned capacity) {
    size_t length = std::strlen(text);
    if (length >= capacity) return false;
    std::memcpy(destination, text, length + 1);
    return true;
}

bool ParsePrefixKey(const char* text, uint8_t* key) {
    static const char* const ControlPrefixes[] = {"^", "C-", "ctrl-", "ctrl+"};
    for (const char* prefix : ControlPrefixes) {
        size_t length = std::strlen(prefix);
        if (strncasecmp(text, prefix, length) != 0 || std::strlen(text) != length + 1) continue;
        char c = text[length];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c < '@' || c > '_') return false;
        *key = uint8_t(c - '@');
        return true;
    }
    if (std::strlen(text) != 1 || (unsigned char)text[0] >= 0x80) return false;
    *key = uint8_t(text[0]);
    return true;
}

void FormatPrefixKey(uint8_t key, char* text, unsigned capacity) {
    if (key < 32) {
        std::snprintf(text, capacity, "Ctrl-%c", char(key + '@'));
    } else {
        std::snprintf(text, capacity, "%c", char(key));
    }
}

// Reports a usage problem naming the offending text.
static bool Fail(char* problem, unsigned capacity, const char* what, const char* text) {
    std::snprintf(problem, capacity, "%s: '%.60s'", what, text);
    return false;
}

bool ParseOptions(int argc, const char* const* argv, ConsoleOptions* result, char* problem,
                  unsigned capacity) {
    std::memset(result, 0, sizeof *result);
    result->action = ProgramAction::Run;
    result->line = DefaultLineSettings;
    std::strcpy(result->settingsText, "9600,n,8,1");
    result->prefixKey = 1;  // Ctrl-A
    result->hardwareFlow = true;
    result->reconnect = true;
    problem[0] = '\0';

    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool takesValue = std::strcmp(argument, "--home") == 0 ||
                          std::strcmp(argument, "--interval") == 0 ||
                          std::strcmp(argument, "--prefix") == 0 ||
                          std::strcmp(argument, "--flow") == 0;
        if (takesValue && value == nullptr) return Fail(problem, capacity, "missing value after", argument);
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            result->action = ProgramAction::Help;
            return true;
        } else if (std::strcmp(argument, "--version") == 0) {
            result->action = ProgramAction::Version;
            return true;
        } else if (std::strcmp(argument, "--list") == 0) {
            result->action = ProgramAction::List;
        } else if (std::strcmp(argument, "--no-reconnect") == 0) {
            result->reconnect = false;
        } else if (std::strcmp(argument, "--seven-bit") == 0) {
            result->sevenBit = true;
        } else if (std::strcmp(argument, "--home") == 0) {
            if (!CopyText(value, result->homeDirectory, PathCapacity))
                return Fail(problem, capacity, "folder name too long", value);
            ++i;
        } else if (std::strcmp(argument, "--interval") == 0) {
            if (value[0] < '0' || value[0] > '9')
                return Fail(problem, capacity, "the interval must be a number of milliseconds", value);
            result->characterInterval = CharacterIntervalFromText(value);
            ++i;
        } else if (std::strcmp(argument, "--prefix") == 0) {
            if (!ParsePrefixKey(value, &result->prefixKey))
                return Fail(problem, capacity, "the prefix must be a key such as C-a or ^B", value);
            ++i;
        } else if (std::strcmp(argument, "--flow") == 0) {
            if (std::strcmp(value, "rtscts") == 0) {
                result->hardwareFlow = true;
            } else if (std::strcmp(value, "none") == 0) {
                result->hardwareFlow = false;
            } else {
                return Fail(problem, capacity, "flow control is rtscts or none", value);
            }
            ++i;
        } else if (argument[0] == '-' && argument[1] != '\0') {
            return Fail(problem, capacity, "unknown option", argument);
        } else if (positional == 0) {
            if (argument[0] == '\0') return Fail(problem, capacity, "empty device name", argument);
            if (!CopyText(argument, result->device, PathCapacity))
                return Fail(problem, capacity, "device name too long", argument);
            ++positional;
        } else if (positional == 1) {
            const char* fault = nullptr;
            if (!CopyText(argument, result->settingsText, sizeof result->settingsText) ||
                !ParseLineSettings(argument, &result->line, &fault)) {
                std::snprintf(problem, capacity, "line settings '%.60s': %s", argument,
                              fault != nullptr ? fault : "too long");
                return false;
            }
            FormatLineSettings(result->line, result->settingsText, sizeof result->settingsText);
            ++positional;
        } else {
            return Fail(problem, capacity, "unexpected argument", argument);
        }
    }
    if (result->action == ProgramAction::Run && positional == 0) {
        std::snprintf(problem, capacity, "no device given (try --list)");
        return false;
    }
    return true;
}
