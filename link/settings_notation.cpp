#include "link/settings_notation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Field texts are compared without case and end at ',', ' ' or the end.
static bool FieldIs(const char* field, size_t length, const char* word) {
    size_t wordLength = std::strlen(word);
    if (length != wordLength) return false;
    for (size_t i = 0; i < length; ++i) {
        if (Lower(field[i]) != word[i]) return false;
    }
    return true;
}

static bool ReadBaud(const char* field, size_t length, LineSettings* settings) {
    if (length == 0 || length > 9) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (field[i] < '0' || field[i] > '9') return false;
        value = value * 10 + uint32_t(field[i] - '0');
    }
    static const struct {
        uint32_t abbreviation, baud;
    } Old[] = {
        {11, 110},  {15, 150},  {30, 300},  {60, 600},   {12, 1200},
        {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200},
    };
    for (const auto& old : Old) {
        if (value == old.abbreviation) value = old.baud;
    }
    if (value == 0) return false;
    settings->baud = value;
    return true;
}

static bool ReadParity(const char* field, size_t length, LineSettings* settings) {
    if (length != 1) return false;
    switch (Lower(field[0])) {
        case 'n': settings->parity = Parity::None; return true;
        case 'e': settings->parity = Parity::Even; return true;
        case 'o': settings->parity = Parity::Odd; return true;
        case 'm': settings->parity = Parity::Mark; return true;
        case 's': settings->parity = Parity::Space; return true;
        default: return false;
    }
}

static bool ReadData(const char* field, size_t length, LineSettings* settings) {
    if (length != 1 || field[0] < '5' || field[0] > '8') return false;
    settings->dataBits = uint8_t(field[0] - '0');
    return true;
}

static bool ReadStop(const char* field, size_t length, LineSettings* settings) {
    if (FieldIs(field, length, "1")) {
        settings->stopBits = StopBits::One;
    } else if (FieldIs(field, length, "1.5")) {
        settings->stopBits = StopBits::OneAndHalf;
    } else if (FieldIs(field, length, "2")) {
        settings->stopBits = StopBits::Two;
    } else {
        return false;
    }
    return true;
}

typedef bool (*FieldReader)(const char*, size_t, LineSettings*);

static const struct {
    const char* keyword;
    FieldReader read;
    const char* problem;
} Fields[] = {
    {"baud", ReadBaud, "the speed must be a number of baud, such as 9600"},
    {"parity", ReadParity, "parity must be n, e, o, m or s"},
    {"data", ReadData, "data bits must be 5, 6, 7 or 8"},
    {"stop", ReadStop, "stop bits must be 1, 1.5 or 2"},
};
enum : unsigned { FieldCount = sizeof Fields / sizeof Fields[0] };

// "baud=9600 parity=n ...": keywords separated by blanks, in any order.
static bool ParseKeywords(const char* text, LineSettings* settings, const char** problem) {
    const char* cursor = text;
    for (;;) {
        while (*cursor == ' ') ++cursor;
        if (*cursor == '\0') return true;
        const char* key = cursor;
        while (*cursor != '=' && *cursor != ' ' && *cursor != '\0') ++cursor;
        size_t keyLength = size_t(cursor - key);
        if (*cursor != '=') {
            *problem = "expected keyword=value, such as baud=9600";
            return false;
        }
        const char* value = ++cursor;
        while (*cursor != ' ' && *cursor != '\0') ++cursor;
        unsigned i = 0;
        while (i < FieldCount && !FieldIs(key, keyLength, Fields[i].keyword)) ++i;
        if (i == FieldCount) {
            *problem = "known keywords are baud, parity, data and stop";
            return false;
        }
        if (!Fields[i].read(value, size_t(cursor - value), settings)) {
            *problem = Fields[i].problem;
            return false;
        }
    }
}

bool ParseLineSettings(const char* text, LineSettings* settings, const char** problem) {
    *settings = DefaultLineSettings;
    if (std::strchr(text, '=') != nullptr) return ParseKeywords(text, settings, problem);
    const char* cursor = text;
    for (unsigned i = 0; *cursor != '\0'; ++i) {
        if (i == FieldCount) {
            *problem = "expected at most speed,parity,data,stop";
            return false;
        }
        const char* field = cursor;
        while (*cursor != ',' && *cursor != '\0') ++cursor;
        size_t length = size_t(cursor - field);
        // An empty field keeps its default, as in "9600,,7".
        if (length > 0 && !Fields[i].read(field, length, settings)) {
            *problem = Fields[i].problem;
            return false;
        }
        if (*cursor == ',') ++cursor;
    }
    return true;
}

void FormatLineSettings(const LineSettings& settings, char* text, unsigned capacity) {
    static const char ParityLetters[] = "neoms";
    static const char* const StopTexts[] = {"1", "1.5", "2"};
    std::snprintf(text, capacity, "%lu,%c,%u,%s", (unsigned long)settings.baud,
                  ParityLetters[unsigned(settings.parity) % 5], unsigned(settings.dataBits),
                  StopTexts[unsigned(settings.stopBits) % 3]);
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
