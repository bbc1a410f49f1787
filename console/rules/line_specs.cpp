#include "console/rules/line_specs.h"

#include <cstdio>
#include <cstring>

namespace {

bool LabelCharacter(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-' ||
           ch == '_';
}

// Checks `label` (length `length`) and adds the spec; false with the problem.
bool AddSpec(const char* label, size_t length, const char* line, size_t lineLength, LineSpec* specs,
             unsigned* count, char* problem, unsigned capacity) {
    if (*count == LineSpecsMax) {
        std::snprintf(problem, capacity, "more than %u lines: one program shows at most %u", LineSpecsMax,
                      LineSpecsMax);
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
        if (std::strlen(specs[i].label) == length && std::strncmp(specs[i].label, label, length) == 0) {
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
    LineSpec& spec = specs[(*count)++];
    std::snprintf(spec.label, sizeof spec.label, "%.*s", int(length), label);
    const char* comma = static_cast<const char*>(std::memchr(line, ',', lineLength));
    size_t deviceLength = comma != nullptr ? size_t(comma - line) : lineLength;
    std::snprintf(spec.line, sizeof spec.line, "%.*s", int(deviceLength), line);
    std::snprintf(spec.settings, sizeof spec.settings, "%.*s",
                  comma != nullptr ? int(lineLength - deviceLength - 1) : 0,
                  comma != nullptr ? comma + 1 : "");
    return true;
}

}  // namespace

bool IsLineSpec(const char* word) {
    size_t i = 0;
    while (LabelCharacter(word[i])) ++i;
    return i > 0 && word[i] == '=';
}

bool ParseLineSpecs(const char* const* words, unsigned count, LineSpec* specs, unsigned* specCount,
                    char* problem, unsigned capacity) {
    *specCount = 0;
    for (unsigned i = 0; i < count; ++i) {
        const char* equals = std::strchr(words[i], '=');
        if (equals == nullptr) {
            std::snprintf(problem, capacity, "'%.60s': with several lines each is LABEL=DEVICE[,SETTINGS]",
                          words[i]);
            return false;
        }
        if (!AddSpec(words[i], size_t(equals - words[i]), equals + 1, std::strlen(equals + 1), specs,
                     specCount, problem, capacity))
            return false;
    }
    return true;
}

bool ParseLinesKey(const char* text, LineSpec* specs, unsigned* specCount, char* problem, unsigned capacity) {
    *specCount = 0;
    const char* at = text;
    while (*at != '\0') {
        while (*at == ' ' || *at == '\t') ++at;
        const char* end = std::strchr(at, ',');
        if (end == nullptr) end = at + std::strlen(at);
        const char* last = end;
        while (last > at && (last[-1] == ' ' || last[-1] == '\t')) --last;
        if (!AddSpec(at, size_t(last - at), at, size_t(last - at), specs, specCount, problem, capacity))
            return false;
        at = *end == ',' ? end + 1 : end;
    }
    return true;
}
