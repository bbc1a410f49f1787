#include "console/features/profiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ini.h>
#include <unistd.h>

#include "console/features/plain_file.h"

namespace {

// What inih reads through: the file and the number of the line read last,
// so a fault found in the handler can name its line.
struct Reading {
    FILE* file;
    int line;
    Profiles* profiles;
    int faultLine;  // 0: none yet
    char fault[ProblemCapacity];
    ConsoleOptions scratch;  // each key is checked by setting it here
};

char* ReadLine(char* text, int size, void* stream) {
    Reading* reading = static_cast<Reading*>(stream);
    char* got = std::fgets(text, size, reading->file);
    if (got != nullptr) ++reading->line;
    return got;
}

int TakeKey(void* user, const char* section, const char* key, const char* value) {
    Reading* reading = static_cast<Reading*>(user);
    char problem[ProblemCapacity];
    bool ok = section[0] != '\0';
    if (!ok) {
        std::snprintf(problem, sizeof problem, "'%s' comes before any [section]", key);
    } else {
        ok = SetOption(&reading->scratch, key, value, problem, sizeof problem);
    }
    if (!ok) {
        if (reading->faultLine == 0) {
            reading->faultLine = reading->line;
            std::snprintf(reading->fault, sizeof reading->fault, "%s", problem);
        }
        return 0;
    }
    Profiles& p = *reading->profiles;
    if (p.sections.empty() || p.sections.back() != section) {
        bool known = false;
        for (const std::string& s : p.sections) known = known || s == section;
        if (!known) p.sections.push_back(section);
    }
    p.entries.push_back({section, key, value});
    return 1;
}

}  // namespace

void DefaultProfilesPath(char* path, unsigned capacity) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && config[0] == '/') {
        std::snprintf(path, capacity, "%s/brisvane/config", config);
    } else if (home != nullptr && home[0] != '\0') {
        std::snprintf(path, capacity, "%s/.config/brisvane/config", home);
    } else {
        path[0] = '\0';
    }
}

bool ReadProfiles(const char* path, bool mustExist, Profiles* profiles, char* problem, unsigned capacity) {
    std::snprintf(profiles->path, sizeof profiles->path, "%s", path);
    if (path[0] == '\0') return true;
    int fd;
    PlainFile opened = OpenPlainFile(path, O_RDONLY, false, &fd);
    int error = errno;
    // No default file is no fault; nor is a home folder that is not ours.
    if (opened == PlainFile::Failed && !mustExist &&
        (error == ENOENT || error == ENOTDIR || error == EACCES)) {
        return true;
    }
    const char* option = mustExist ? "--config " : "";
    if (opened == PlainFile::Failed) {
        std::snprintf(problem, capacity, "%s%s: cannot read it: %s", option, path, std::strerror(error));
        return false;
    }
    if (opened != PlainFile::Opened) {
        // A FIFO or a device would keep start-up waiting, or reading, for ever.
        std::snprintf(problem, capacity, "%s%s: %s (give a profiles file)", option, path,
                      PlainFileProblem(opened, 0));
        return false;
    }
    FILE* file = fdopen(fd, "r");
    if (file == nullptr) {
        std::snprintf(problem, capacity, "%s%s: cannot read it: %s", option, path, std::strerror(errno));
        close(fd);
        return false;
    }
    Reading* reading = new Reading();  // its scratch options are large
    reading->file = file;
    reading->profiles = profiles;
    DefaultOptions(&reading->scratch);
    int firstFault = ini_parse_stream(ReadLine, reading, TakeKey, reading);
    std::fclose(file);
    bool ok = firstFault == 0;
    if (!ok) {
        const char* what =
            firstFault == reading->faultLine ? reading->fault : "not a 'key = value' line or a [section]";
        std::snprintf(problem, capacity, "%s:%d: %s", path, firstFault, what);
    }
    delete reading;
    return ok;
}

bool HasProfile(const Profiles& profiles, const char* name) {
    for (const std::string& section : profiles.sections) {
        if (section == name) return true;
    }
    return false;
}

bool ApplyProfile(const Profiles& profiles, const char* name, ConsoleOptions* options, char* problem,
                  unsigned capacity) {
    for (const Profiles::Entry& entry : profiles.entries) {
        if (entry.section != name) continue;
        if (!SetOption(options, entry.key.c_str(), entry.value.c_str(), problem, capacity)) return false;
    }
    return true;
}
