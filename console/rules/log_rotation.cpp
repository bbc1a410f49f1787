#include "console/rules/log_rotation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/rules/plain_file.h"

namespace {

const uint64_t LogSizeMin = 1024;
const uint64_t LogSizeMax = uint64_t(1) << 50;  // a petabyte: far past any disk a console logs to

// path.n into `out`; false when it does not fit.
bool Numbered(const char* path, unsigned n, char* out, unsigned capacity) {
    int length = std::snprintf(out, capacity, "%s.%u", path, n);
    return length > 0 && unsigned(length) < capacity;
}

}  // namespace

bool ParseLogSize(const char* text, uint64_t* bytes, const char** problem) {
    *problem = "give a size such as 64K or 10M (K, M and G are 1024, 1024 * 1024 and so on)";
    const char* at = text;
    if (*at < '0' || *at > '9') return false;
    uint64_t value = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        value = value * 10 + unsigned(*at - '0');
        if (value > LogSizeMax) return false;
    }
    unsigned shift = 0;
    switch (*at) {
        case '\0': break;
        case 'K':
        case 'k': shift = 10; break;
        case 'M':
        case 'm': shift = 20; break;
        case 'G':
        case 'g': shift = 30; break;
        default: return false;
    }
    if (*at != '\0' && at[1] != '\0') return false;
    if (value > (LogSizeMax >> shift)) return false;
    value <<= shift;
    if (value < LogSizeMin) {
        *problem = "a log's size is at least 1K";
        return false;
    }
    *bytes = value;
    return true;
}

bool ParseLogKeep(const char* text, unsigned* keep, const char** problem) {
    *problem = "give how many old logs to keep, 0 to 999";
    if (*text == '\0' || std::strlen(text) > 3) return false;
    unsigned value = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        value = value * 10 + unsigned(*at - '0');
    }
    *keep = value;
    return true;
}

int RotateLogFiles(const char* path, unsigned keep) {
    char from[4096], to[4096];
    if (keep == 0) return unlink(path) == 0 || errno == ENOENT ? 0 : errno;
    if (!Numbered(path, keep, to, sizeof to)) return ENAMETOOLONG;
    // The oldest kept falls off by being renamed over.
    for (unsigned n = keep - 1; n >= 1; --n) {
        if (!Numbered(path, n, from, sizeof from) || !Numbered(path, n + 1, to, sizeof to))
            return ENAMETOOLONG;
        if (rename(from, to) != 0 && errno != ENOENT) return errno;
    }
    if (!Numbered(path, 1, to, sizeof to)) return ENAMETOOLONG;
    if (rename(path, to) != 0 && errno != ENOENT) return errno;
    return 0;
}

Rotated RotateIfDue(const LogRotation& rotation, const char* path, BufferedWriter& writer, char* problem,
                    unsigned capacity) {
    if (rotation.maxBytes == 0 || writer.fd < 0) return Rotated::No;
    writer.WriteOut();
    if (writer.failure != 0) return Rotated::No;  // the writer's own failure path says it
    struct stat status;
    if (fstat(writer.fd, &status) != 0 || uint64_t(status.st_size) < rotation.maxBytes) return Rotated::No;
    // /dev/null and the like never grow; a plain file only is rotated.
    if (!S_ISREG(status.st_mode)) return Rotated::No;
    close(writer.fd);
    writer.fd = -1;
    int failure = RotateLogFiles(path, rotation.keep);
    if (failure != 0) {
        std::snprintf(problem, capacity, "log %s: cannot rotate: %s", path, std::strerror(failure));
        return Rotated::Failed;
    }
    PlainFile opened = OpenPlainFile(path, O_WRONLY | O_CREAT | O_APPEND, false, &writer.fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(problem, capacity, "log %s: cannot open it anew: %s", path,
                      PlainFileProblem(opened, errno));
        return Rotated::Failed;
    }
    writer.written = 0;
    return Rotated::Yes;
}
