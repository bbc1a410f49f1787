#include "console/rules/line_words.h"

#include <cstdio>
#include <cstring>

namespace {

bool LabelCharacter(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-' ||
           ch == '_';
}

// Checks `label` (length `length`) and adds the line; false with the problem.
bool AddLine(const char* label, size_t length, const char* line, size_t lineLength, LineWord* named,
             unsigned* count, char* problem, unsigned capacity) {
    if (*count == LineWordsMax) {
        std::snprintf(problem, capacity, "more than %u lines: one program shows at most %u", LineWordsMax,
                      LineWordsMax);
        return false;
    }
    if (length == 0 || length >= LineLabelCapacity) {
        std::snprintf(problem, capacity, "line label '%.*s': 1 to %u letters, digits, - or _", int(length),
                      label, LineLabelCapacity - 1);
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (!LabelCharacter(label[i])) {
            std::snprintf(problem, capacity, "line label '%.*s': only letters, digits, - and _", int(length),
                          label);
            return false;
        }
    }
    for (unsigned i = 0; i < *count; ++i) {
        if (std::strlen(named[i].label) == length && std::strncmp(named[i].label, label, length) == 0) {
            std::snprintf(problem, capacity, "line label '%.*s' given twice: each line needs its own",
                          int(length), label);
            return false;
        }
    }
    if (lineLength == 0) {
        std::snprintf(problem, capacity, "line %.*s: no line after '=' (LABEL=DEVICE[,SETTINGS])",
                      int(length), label);
        return false;
    }
    LineWord& word = named[(*count)++];
    std::snprintf(word.label, sizeof word.label, "%.*s", int(length), label);
    const char* comma = static_cast<const char*>(std::memchr(line, ',', lineLength));
    size_t deviceLength = comma != nullptr ? size_t(comma - line) : lineLength;
    std::snprintf(word.line, sizeof word.line, "%.*s", int(deviceLength), line);
    std::snprintf(word.settings, sizeof word.settings, "%.*s",
                  comma != nullptr ? int(lineLength - deviceLength - 1) : 0,
                  comma != nullptr ? comma + 1 : "");
    return true;
}

}  // namespace

bool IsLineWord(const char* word) {
    size_t i = 0;
    while (LabelCharacter(word[i])) ++i;
    return i > 0 && word[i] == '=';
}

bool ParseLineWords(const char* const* words, unsigned count, LineWord* named, unsigned* namedCount,
                    char* problem, unsigned capacity) {
    *namedCount = 0;
    for (unsigned i = 0; i < count; ++i) {
        const char* equals = std::strchr(words[i], '=');
        if (equals == nullptr) {
            std::snprintf(problem, capacity, "'%.60s': with several lines each is LABEL=DEVICE[,SETTINGS]",
                          words[i]);
            return false;
        }
        if (!AddLine(words[i], size_t(equals - words[i]), equals + 1, std::strlen(equals + 1), named,
                     namedCount, problem, capacity))
            return false;
    }
    return true;
}

bool ParseLinesKey(const char* text, LineWord* named, unsigned* namedCount, char* problem,
                   unsigned capacity) {
    *namedCount = 0;
    const char* at = text;
    while (*at != '\0') {
        while (*at == ' ' || *at == '\t') ++at;
        const char* end = std::strchr(at, ',');
        if (end == nullptr) end = at + std::strlen(at);
        const char* last = end;
        while (last > at && (last[-1] == ' ' || last[-1] == '\t')) --last;
        if (!AddLine(at, size_t(last - at), at, size_t(last - at), named, namedCount, problem, capacity))
            return false;
        at = *end == ',' ? end + 1 : end;
    }
    return true;
}
