#include "console/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

enum class Kind : uint8_t { Flag, Value, ProfileOnly };

struct OptionSpec {
    const char* name;
    Kind kind;
};

// Every long option; the last two are given positionally on the command line.
const OptionSpec Specs[] = {
    {"home", Kind::Value},        {"interval", Kind::Value},     {"prefix", Kind::Value},
    {"flow", Kind::Value},        {"no-reconnect", Kind::Flag},  {"seven-bit", Kind::Flag},
    {"wait", Kind::Flag},         {"dtr", Kind::Value},          {"rts", Kind::Value},
    {"history", Kind::Value},     {"log", Kind::Value},          {"log-raw", Kind::Value},
    {"timestamps", Kind::Flag},   {"device", Kind::ProfileOnly}, {"settings", Kind::ProfileOnly},
    {"ansi", Kind::Value},
};

const OptionSpec* FindSpec(const char* name) {
    for (const OptionSpec& spec : Specs) {
        if (std::strcmp(spec.name, name) == 0) return &spec;
    }
    return nullptr;
}

bool Fail(char* problem, unsigned capacity, const char* what, const char* text) {
    std::snprintf(problem, capacity, "%s: '%.60s'", what, text);
    return false;
}

bool CopyText(const char* text, char* destination, unsigned capacity) {
    size_t length = std::strlen(text);
    if (length >= capacity) return false;
    std::memcpy(destination, text, length + 1);
    return true;
}

// A path; "~/" starts from the home folder, as a shell would have it (a
// profile's values reach no shell).
bool CopyPath(const char* text, char* destination, unsigned capacity) {
    const char* home = std::getenv("HOME");
    if (text[0] != '~' || text[1] != '/' || home == nullptr || home[0] == '\0') {
        return CopyText(text, destination, capacity);
    }
    int n = std::snprintf(destination, capacity, "%s%s", home, text + 1);
    return n >= 0 && unsigned(n) < capacity;
}

// A flag's value in a profile; a flag on the command line (null) is on.
bool ReadBoolean(const char* value, bool* result) {
    if (value == nullptr) {
        *result = true;
        return true;
    }
    static const char* const Yes[] = {"yes", "true", "on", "1"};
    static const char* const No[] = {"no", "false", "off", "0"};
    for (const char* word : Yes) {
        if (strcasecmp(value, word) == 0) {
            *result = true;
            return true;
        }
    }
    for (const char* word : No) {
        if (strcasecmp(value, word) == 0) {
            *result = false;
            return true;
        }
    }
    return false;
}

bool ReadNumber(const char* text, uint32_t maximum, uint32_t* result) {
    if (text[0] < '0' || text[0] > '9') return false;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || value > maximum) return false;
    *result = uint32_t(value);
    return true;
}

bool SetSettings(ConsoleOptions* options, const char* text, char* problem, unsigned capacity) {
    const char* fault = nullptr;
    if (!ParseLineSettings(text, &options->line, &fault)) {
        std::snprintf(problem, capacity, "line settings '%.60s': %s", text, fault);
        return false;
    }
    FormatLineSettings(options->line, options->settingsText, sizeof options->settingsText);
    return true;
}

bool SetSwitch(Switch* target, const char* value) {
    bool on;
    if (!ReadBoolean(value, &on)) return false;
    *target = on ? Switch::On : Switch::Off;
    return true;
}

}  // namespace

void DefaultOptions(ConsoleOptions* options) {
    std::memset(options, 0, sizeof *options);
    options->action = ProgramAction::Run;
    options->line = DefaultLineSettings;
    FormatLineSettings(options->line, options->settingsText, sizeof options->settingsText);
    options->prefixKey = DefaultPrefixKey;
    options->hardwareFlow = true;
    options->reconnect = true;
    options->dtr = options->rts = Switch::Leave;
    options->historyRows = DefaultHistoryRows;
}

bool SetOption(ConsoleOptions* o, const char* name, const char* value, char* problem,
               unsigned capacity) {
    const OptionSpec* spec = FindSpec(name);
    if (spec == nullptr) return Fail(problem, capacity, "unknown option", name);
    if (spec->kind != Kind::Flag && value == nullptr) {
        return Fail(problem, capacity, "missing value for", name);
    }
    bool flag = false;
    if (spec->kind == Kind::Flag && !ReadBoolean(value, &flag)) {
        return Fail(problem, capacity, "expected yes or no", value);
    }
    if (std::strcmp(name, "no-reconnect") == 0) {
        o->reconnect = !flag;
    } else if (std::strcmp(name, "seven-bit") == 0) {
        o->sevenBit = flag;
    } else if (std::strcmp(name, "wait") == 0) {
        o->waitForDevice = flag;
    } else if (std::strcmp(name, "timestamps") == 0) {
        o->timestamps = flag;
    } else if (std::strcmp(name, "home") == 0) {
        if (!CopyPath(value, o->homeDirectory, PathCapacity)) return Fail(problem, capacity, "folder name too long", value);
    } else if (std::strcmp(name, "log") == 0) {
        if (!CopyPath(value, o->logPath, PathCapacity)) return Fail(problem, capacity, "file name too long", value);
    } else if (std::strcmp(name, "log-raw") == 0) {
        if (!CopyPath(value, o->rawLogPath, PathCapacity)) return Fail(problem, capacity, "file name too long", value);
    } else if (std::strcmp(name, "device") == 0) {
        if (value[0] == '\0') return Fail(problem, capacity, "empty device name", value);
        if (!CopyPath(value, o->device, PathCapacity)) return Fail(problem, capacity, "device name too long", value);
    } else if (std::strcmp(name, "settings") == 0) {
        return SetSettings(o, value, problem, capacity);
    } else if (std::strcmp(name, "interval") == 0) {
        if (value[0] < '0' || value[0] > '9') {
            return Fail(problem, capacity, "the interval must be a number of milliseconds", value);
        }
        o->characterInterval = CharacterIntervalFromText(value);
    } else if (std::strcmp(name, "prefix") == 0) {
        if (!ParsePrefixKey(value, &o->prefixKey)) {
            return Fail(problem, capacity, "the prefix must be a key such as C-a or ^B", value);
        }
    } else if (std::strcmp(name, "flow") == 0) {
        if (std::strcmp(value, "rtscts") == 0) {
            o->hardwareFlow = true;
        } else if (std::strcmp(value, "none") == 0) {
            o->hardwareFlow = false;
        } else {
            return Fail(problem, capacity, "flow control is rtscts or none", value);
        }
    } else if (std::strcmp(name, "dtr") == 0 || std::strcmp(name, "rts") == 0) {
        if (!SetSwitch(name[0] == 'd' ? &o->dtr : &o->rts, value)) {
            return Fail(problem, capacity, "a modem line is on or off", value);
        }
    } else if (std::strcmp(name, "ansi") == 0) {
        if (std::strcmp(value, "hide") == 0 || std::strcmp(value, "show") == 0) {
            o->ansiShown = value[0] == 's';
        } else {
            return Fail(problem, capacity, "ANSI sequences are hide or show", value);
        }
    } else if (std::strcmp(name, "history") == 0) {
        if (!ReadNumber(value, MaxHistoryRows, &o->historyRows)) {
            return Fail(problem, capacity, "history is a number of rows from 0 to 1000000", value);
        }
    }
    return true;
}

bool ReadCommandLine(int argc, const char* const* argv, CommandLine* line, char* problem,
                     unsigned capacity) {
    std::memset(line, 0, sizeof *line);
    line->action = ProgramAction::Run;
    problem[0] = '\0';
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            line->action = ProgramAction::Help;
            return true;
        }
        if (std::strcmp(argument, "--version") == 0) {
            line->action = ProgramAction::Version;
            return true;
        }
        if (std::strcmp(argument, "--list") == 0) {
            line->action = ProgramAction::List;
            continue;
        }
        if (argument[0] != '-' || argument[1] == '\0') {
            if (line->positionalCount == 2) return Fail(problem, capacity, "unexpected argument", argument);
            line->positional[line->positionalCount++] = argument;
            continue;
        }
        const char* name = argument + (argument[1] == '-' ? 2 : 1);
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(name, "config") == 0) {
            if (value == nullptr) return Fail(problem, capacity, "missing value after", argument);
            line->configPath = value;
            ++i;
            continue;
        }
        const OptionSpec* spec = argument[1] == '-' ? FindSpec(name) : nullptr;
        if (spec == nullptr || spec->kind == Kind::ProfileOnly) {
            return Fail(problem, capacity, "unknown option", argument);
        }
        if (spec->kind == Kind::Flag) {
            value = nullptr;
        } else if (value == nullptr) {
            return Fail(problem, capacity, "missing value after", argument);
        } else {
            ++i;
        }
        if (line->assignmentCount == CommandLine::MaxAssignments) {
            return Fail(problem, capacity, "too many options", argument);
        }
        line->assignments[line->assignmentCount++] = {spec->name, value};
    }
    return true;
}

bool LooksLikeDevice(const char* text) {
    return std::strchr(text, '/') != nullptr;  // also rfc2217:// and tcp://
}

bool ApplyCommandLine(const CommandLine& line, bool firstIsProfile, ConsoleOptions* options,
                      char* problem, unsigned capacity) {
    options->action = line.action;
    for (unsigned i = 0; i < line.assignmentCount; ++i) {
        const CommandLine::Assignment& a = line.assignments[i];
        if (!SetOption(options, a.name, a.value, problem, capacity)) return false;
    }
    if (line.positionalCount > 0 && !firstIsProfile &&
        !SetOption(options, "device", line.positional[0], problem, capacity)) {
        return false;
    }
    if (line.positionalCount > 1 && !SetOption(options, "settings", line.positional[1], problem, capacity)) {
        return false;
    }
    if (options->action == ProgramAction::Run && options->device[0] == '\0') {
        std::snprintf(problem, capacity, "no device given (try --list)");
        return false;
    }
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
