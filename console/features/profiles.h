// Profiles: an INI file with a [default] section and named sections whose
// keys are the long options ("device", "settings", "flow", "home",
// "interval", "prefix", "seven-bit", "ansi", "history", "log", "timestamps",
// "dtr", "rts", "wait", ...). `brisvane NAME` uses the section NAME; the command
// line overrides it, and it overrides [default].
//
// The file is $XDG_CONFIG_HOME/brisvane/config (else ~/.config/brisvane/
// config), or the one --config names. It is read once at start-up (with
// inih); every key is checked then, so a fault anywhere names the file and
// its line.
#ifndef BRISVANE_CONSOLE_PROFILES_H
#define BRISVANE_CONSOLE_PROFILES_H

#include <string>
#include <vector>

#include "console/rules/options.h"

struct Profiles {
    struct Entry {
        std::string section, key, value;
    };
    char path[PathCapacity] = "";
    std::vector<Entry> entries;
    std::vector<std::string> sections;  // in the file's order, [default] too
};

// The default file's path from the environment; empty when there is none.
void DefaultProfilesPath(char* path, unsigned capacity);

// Reads `path`. A missing file is no fault unless `mustExist`. On a fault
// returns false with "FILE:LINE: what" (or "FILE: what") in `problem`.
bool ReadProfiles(const char* path, bool mustExist, Profiles* profiles, char* problem, unsigned capacity);

bool HasProfile(const Profiles& profiles, const char* name);

// Sets the options the section `name` holds (none when it is absent).
bool ApplyProfile(const Profiles& profiles, const char* name, ConsoleOptions* options, char* problem,
                  unsigned capacity);

#endif
